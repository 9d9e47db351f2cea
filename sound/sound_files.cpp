// The files that carry a song out of the program: module files (packed and read in sound_module.cpp), the C
// header export and the WAV format (the capture that records the playing song is in sound_capture.cpp). Runs on the
// host's thread; owns nothing beyond a call.
#include "os_tools.h"
#include "sound.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

static constexpr int32_t SND_CELL_MAX = 6; // longest cell item: flag byte and five fields
// The reader never looks further than the header, the longest order list and 255 patterns of the longest cells.
static constexpr int32_t SND_MODULE_MAX_BYTES =
    4 + SND_ORDER_MAX + SND_MAX_PATTERNS * SND_ROWS * SND_CHANNELS * SND_CELL_MAX;
static constexpr int32_t WAV_HEADER_BYTES = 44;

// ---- Writing beside the target

// Longest file name (one path component) that the usual file systems take: 255 bytes on Linux, 255 characters on
// Windows.
static constexpr int32_t SND_NAME_MAX = 255;
// Longest ".<n>.part" that the temporary name adds to the target's name.
static constexpr int32_t SND_PART_SUFFIX_MAX = 8;

// Bytes of path up to and including its last directory separator; 0 when it names a file in the current directory.
static int32_t snd_dir_length(const char* path) {
    int32_t length = 0;
    for (int32_t i = 0; path[i]; i++)
        if (path[i] == '/' || path[i] == '\\') length = i + 1;
    return length;
}

// A file name as std::filesystem takes it. The program's names are UTF-8 (the Windows programs ask for UTF-8 as the
// code page of every narrow-character call, which fopen and remove then use), but std::filesystem on Windows reads
// narrow names in the C runtime's locale, and takes UTF-8 only as char8_t; POSIX keeps the bytes as they are. A
// name that is not UTF-8 (a Windows too old for that code page passes its ANSI names) is read the narrow way; one
// that cannot be read at all gives an empty path, on which the calls fail instead of throwing.
static std::filesystem::path snd_fs_path(const char* name) {
    try {
        return std::filesystem::path((const char8_t*)name);
    } catch (const std::exception&) {}
    try {
        return std::filesystem::path(name);
    } catch (const std::exception&) { return std::filesystem::path(); }
}

// Opens a new temporary file next to target, so that the target is replaced only once the whole file is
// written; stores its name (from os_alloc) in *temp_path. Null when none can be created. The temporary file is
// "<target>.<n>.part"; when that would be longer than a file name can be, it is "quavlo.<n>.part" in the target's
// directory instead, so any name that can be saved can be written this way.
static FILE* snd_open_beside(const char* target, char** temp_path) {
    const int32_t length = (int32_t)strlen(target);
    const int32_t dir_length = snd_dir_length(target);
    const int32_t capacity = length + 32;
    char* name = (char*)os_alloc(capacity);
    bool short_name = length - dir_length + SND_PART_SUFFIX_MAX > SND_NAME_MAX;
    for (int32_t attempt = 0; attempt < 100; attempt++) {
        if (short_name)
            snprintf(name, (size_t)capacity, "%.*squavlo.%d.part", (int)dir_length, target, attempt);
        else
            snprintf(name, (size_t)capacity, "%s.%d.part", target, attempt);
        // Never take over a file that is already there (an earlier crash's leftover, say). The "x" of the mode
        // makes the open itself refuse one; Windows' msvcrt ignores the letter (or, older, refuses the mode), so
        // the name is also looked for first.
        std::error_code error;
        if (std::filesystem::exists(std::filesystem::symlink_status(snd_fs_path(name), error))) {
            errno = EEXIST;
            continue;
        }
        FILE* file = fopen(name, "wb+x");
        if (!file && errno == EINVAL) file = fopen(name, "wb+");
        if (file) {
            *temp_path = name;
            return file;
        }
        // A file system whose names are shorter than usual: the short name, from 0 again.
        if (errno == ENAMETOOLONG && !short_name) {
            short_name = true;
            attempt = -1;
            continue;
        }
        if (errno != EEXIST) break;
    }
    os_free(&name);
    return nullptr;
}

// Closes the temporary file and, when everything was written, moves it over the target; otherwise removes it
// and leaves the target as it was. Returns 1 when the target now holds the new file. The file's bytes reach the
// disk before the rename, and the rename before the return: a crash or power cut at any point leaves the old
// file or the new one under the target's name, never one the rename took before its bytes were written.
static int32_t snd_finish_beside(FILE* file, char** temp_path, const char* target, bool written) {
    if (fflush(file) != 0) written = false;
    if (written && os_sync_file && !os_sync_file(file)) written = false;
    if (fclose(file) != 0) written = false;
    if (written) {
        std::error_code error;
        std::filesystem::rename(snd_fs_path(*temp_path), snd_fs_path(target), error);
        if (error) written = false;
    }
    if (written && os_sync_directory_of) os_sync_directory_of(target);
    if (!written) remove(*temp_path);
    os_free(temp_path);
    return written ? 1 : 0;
}

int32_t save_module(const char* path, const snd_song* song) {
    OS_ASSERT(path != nullptr && song != nullptr);
    if (!path || !song) return 0;
    const int32_t size = snd_pack_module(song, nullptr, 0);
    if (size < 0) return 0;
    uint8_t* bytes = (uint8_t*)os_alloc(size);
    snd_pack_module(song, bytes, size);
    char* temp_path = nullptr;
    FILE* file = snd_open_beside(path, &temp_path);
    OS_ASSERT(file != nullptr);
    const bool written = file && fwrite(bytes, 1, (size_t)size, file) == (size_t)size;
    os_free(&bytes);
    if (!file) return 0;
    return snd_finish_beside(file, &temp_path, path, written);
}

// ---- Module reader

snd_song load_module(snd_engine* e, const char* path) {
    snd_song song;
    memset(&song, 0, sizeof song);
    OS_ASSERT(path != nullptr);
    if (!path) return song;
    FILE* file = fopen(path, "rb");
    if (!file) return song;
    long size = -1;
    if (fseek(file, 0, SEEK_END) == 0) size = ftell(file);
    if (size > 0 && fseek(file, 0, SEEK_SET) == 0) {
        // Bytes beyond what the reader can ever use are not read; the result is the same without them.
        const int32_t wanted = size < SND_MODULE_MAX_BYTES ? (int32_t)size : SND_MODULE_MAX_BYTES;
        uint8_t* buffer = (uint8_t*)os_alloc(wanted);
        if (fread(buffer, 1, (size_t)wanted, file) == (size_t)wanted) song = snd_unpack_module(e, buffer, wanted);
        os_free(&buffer);
    }
    fclose(file);
    return song;
}

// ---- C header export

static bool snd_write_text(FILE* file, const char* text, int32_t length) {
    return length >= 0 && fwrite(text, 1, (size_t)length, file) == (size_t)length;
}

// Writes the header's opening lines; the array name is written whole, whatever its length.
static bool snd_write_array_start(FILE* file, const char* name) {
    const int32_t capacity = (int32_t)strlen(name) + 32;
    char* line = (char*)os_alloc(capacity);
    const int32_t length = snprintf(line, (size_t)capacity, "const byte %s[]=\n{\n", name);
    const bool written = snd_write_text(file, line, length);
    os_free(&line);
    return written;
}

int32_t snd_header_name(const char* path, char* name, int32_t capacity) {
    OS_ASSERT(path != nullptr && name != nullptr && capacity > 0);
    if (!path || !name || capacity <= 0) return 0;
    const char* file = path;
    for (const char* c = path; *c; c++)
        if (*c == '/' || *c == '\\') file = c + 1;
    int32_t length = 0;
    auto put = [&](char c) {
        if (length < capacity - 1) name[length] = c;
        length++;
    };
    // Any other first byte that cannot start an identifier becomes '_' below.
    if (*file == 0 || *file == '.' || (*file >= '0' && *file <= '9')) put('_');
    for (const char* c = file; *c && *c != '.'; c++) {
        const bool letter = (*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z');
        const bool digit = *c >= '0' && *c <= '9';
        put(letter || digit || *c == '_' ? *c : '_');
    }
    name[length < capacity - 1 ? length : capacity - 1] = 0;
    return length;
}

int32_t export_c_header(const char* path, const char* name, const snd_song* song) {
    OS_ASSERT(path != nullptr && name != nullptr && song != nullptr);
    if (!path || !name || !song) return 0;
    const int32_t saved = save_module("temp.tmp", song);
    FILE* module = fopen("temp.tmp", "rb");
    // The header goes through a file beside the target too, so a failed export leaves an older header intact.
    char* temp_path = nullptr;
    FILE* out = saved && module ? snd_open_beside(path, &temp_path) : nullptr;
    bool written = false;
    if (saved && module && out && snd_write_array_start(out, name)) {
        char entry[16];
        for (int32_t count = 1;; count++) {
            const int c = fgetc(module);
            if (c == EOF) {
                written = snd_write_text(out, "};\n", 3);
                break;
            }
            const int32_t length = snprintf(entry, sizeof entry, count % 20 == 0 ? "0x%02X,\n" : "0x%02X,", c);
            if (!snd_write_text(out, entry, length)) break;
        }
    }
    int32_t result = 0;
    if (out) result = snd_finish_beside(out, &temp_path, path, written);
    if (module) fclose(module);
    remove("temp.tmp");
    return result;
}

// ---- WAV capture

static void wav_put32(uint8_t* at, uint32_t value) {
    for (int32_t i = 0; i < 4; i++) at[i] = (uint8_t)(value >> (8 * i));
}
static void wav_put16(uint8_t* at, uint16_t value) {
    at[0] = (uint8_t)value;
    at[1] = (uint8_t)(value >> 8);
}

int32_t wav_write_header(FILE* file, int32_t data_size) {
    OS_ASSERT(file != nullptr);
    OS_ASSERT(data_size >= 0);
    if (!file || data_size < 0) return 0;
    uint8_t header[WAV_HEADER_BYTES];
    memcpy(header + 0, "RIFF", 4);
    wav_put32(header + 4, (uint32_t)data_size + 36);
    memcpy(header + 8, "WAVE", 4);
    memcpy(header + 12, "fmt ", 4);
    wav_put32(header + 16, 16);
    wav_put16(header + 20, 1); // PCM
    wav_put16(header + 22, 1); // mono
    wav_put32(header + 24, SND_RATE);
    wav_put32(header + 28, SND_RATE * 2);
    wav_put16(header + 32, 2);
    wav_put16(header + 34, 16);
    memcpy(header + 36, "data", 4);
    wav_put32(header + 40, (uint32_t)data_size);
    return fwrite(header, 1, sizeof header, file) == sizeof header ? 1 : 0;
}

size_t wav_write_samples(FILE* file, const int16_t* samples, int32_t count,
                         size_t (*write)(const void*, size_t, size_t, FILE*)) {
    OS_ASSERT(file != nullptr && samples != nullptr && count >= 0);
    if (!file || !samples || count <= 0) return 0;
    uint8_t bytes[SND_BLOCK * 2];
    size_t total = 0;
    for (int32_t done = 0; done < count;) {
        const int32_t n = count - done < SND_BLOCK ? count - done : SND_BLOCK;
        for (int32_t i = 0; i < n; i++) wav_put16(bytes + 2 * i, (uint16_t)samples[done + i]);
        const size_t written = (write ? write : fwrite)(bytes, 1, (size_t)n * 2, file);
        total += written;
        if (written != (size_t)n * 2) break;
        done += n;
    }
    return total;
}

// The files that carry a song out of the program: module files (packed and read in sound_module.cpp), the C
// header export and the WAV capture of the playing song. Module and header files are written on the main thread; the
// capture's append runs inside snd_mix on the audio thread, and wav_file is set and withdrawn under audio_lock. Owns
// the capture file while a capture runs.
#include "os_files.h"
#include "os_tools.h"
#include "sound.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

FILE* wav_file;      // open capture, null when none; written by the main thread under audio_lock
int32_t wav_samples; // samples appended since wav_start; audio thread while capturing, main thread otherwise
int32_t wav_failed;  // 1 once an append failed and ended the capture; under audio_lock

static constexpr int32_t SND_CELL_MAX = 6; // longest cell item: flag byte and five fields
// The reader never looks further than the header, the longest order list and 255 patterns of the longest cells.
static constexpr int32_t SND_MODULE_MAX_BYTES =
    4 + SND_ORDER_MAX + SND_MAX_PATTERNS * SND_ROWS * SND_CHANNELS * SND_CELL_MAX;
static constexpr int32_t WAV_HEADER_BYTES = 44;
// Largest data size the 32-bit signed size fields can describe, so the append stops short of it.
static constexpr int32_t WAV_MAX_DATA = 0x7FFFFFFF - 36;

// ---- Writing beside the target

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
// written; stores its name (from os_alloc) in *temp_path. Null when none can be created.
static FILE* snd_open_beside(const char* target, char** temp_path) {
    const int32_t length = (int32_t)strlen(target);
    char* name = (char*)os_alloc(length + 16);
    for (int32_t attempt = 0; attempt < 100; attempt++) {
        snprintf(name, (size_t)length + 16, "%s.%d.part", target, attempt);
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
    if (written && !os_sync_file(file)) written = false;
    if (fclose(file) != 0) written = false;
    if (written) {
        std::error_code error;
        std::filesystem::rename(snd_fs_path(*temp_path), snd_fs_path(target), error);
        if (error) written = false;
    }
    if (written) os_sync_directory_of(target);
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

snd_song load_module(const char* path) {
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
        if (fread(buffer, 1, (size_t)wanted, file) == (size_t)wanted) song = snd_unpack_module(buffer, wanted);
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

// Ends the capture in `file`: final sizes into the header at the start, then the file is closed.
static int32_t wav_finish(FILE* file, int32_t samples) {
    if (fseek(file, 0, SEEK_SET) == 0) wav_write_header(file, samples * 2);
    return fclose(file);
}

static constexpr const char* WAV_NAME = "song.wav"; // the capture's file, in the current directory

void wav_start() {
    FILE* running;
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        running = wav_file;
        wav_file = nullptr;
    }
    OS_ASSERT(running == nullptr);
    // A capture still running is finished properly before "song.wav" is replaced.
    if (running) wav_finish(running, wav_samples);
    wav_samples = 0;
    FILE* file = fopen(WAV_NAME, "wb+");
    if (!file) return;
    // Unbuffered: each append is one write, so a failed one tells exactly how many bytes reached the file.
    setvbuf(file, nullptr, _IONBF, 0);
    wav_write_header(file, 0);
    std::lock_guard<std::recursive_mutex> hold(audio_lock);
    wav_failed = 0;
    wav_file = file;
}

int32_t wav_stop() {
    FILE* file;
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        file = wav_file;
        wav_file = nullptr;
    }
    OS_ASSERT(file != nullptr);
    if (!file) return EOF;
    return wav_finish(file, wav_samples);
}

// With audio_lock held (the mixer's caller holds it). Appends one mixed block to the running capture.
void wav_append(const int16_t* block) {
    if (!wav_file || !block) return;
    if (wav_samples > WAV_MAX_DATA / 2 - SND_BLOCK) return; // the header could not count more
    uint8_t bytes[SND_BLOCK * 2];
    for (int32_t i = 0; i < SND_BLOCK; i++) wav_put16(bytes + 2 * i, (uint16_t)block[i]);
    const size_t written = fwrite(bytes, 1, sizeof bytes, wav_file);
    wav_samples += (int32_t)(written / 2);
    if (written == sizeof bytes) return;
    // The disk is full or the device failed: the capture ends with what reached the file, and the song plays on.
    // A half sample left by a short write is cut off, so that the header's sizes describe the whole file.
    FILE* file = wav_file;
    wav_file = nullptr;
    wav_failed = 1;
    wav_finish(file, wav_samples);
    if (written % 2 != 0) {
        std::error_code error;
        std::filesystem::resize_file(WAV_NAME, (uintmax_t)WAV_HEADER_BYTES + (uintmax_t)wav_samples * 2, error);
    }
}

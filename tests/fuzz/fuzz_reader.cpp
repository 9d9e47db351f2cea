// Fuzz target: any bytes as a module file, through the reader alone. Reads them into a song without samples,
// checks the tables, writes the song and reads the written bytes back (the same order list and patterns must
// come out, and writing them again must give the same bytes), then makes the song usable as the tracker's LOAD
// does and checks what that leaves. Nothing is generated or played, so each input costs microseconds; the
// playback target (fuzz_module.cpp) covers the player.
#include "os_tools.h"
#include "sound.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern bool fuzz_assert_finding; // fuzz_platform.cpp

// Stops the run with a message that libFuzzer reports as a finding.
static snd_engine eng; // the engine every input is read and played with

static void fuzz_check(bool ok, const char* what) {
    if (ok) return;
    fprintf(stderr, "fuzz_reader: %s\n", what);
    abort();
}

// Reads module bytes into a fresh song without samples; the song's tables are checked against the bytes' header.
static snd_song fuzz_read(const uint8_t* data, int32_t size, int32_t* read) {
    snd_song song;
    memset(&song, 0, sizeof song);
    *read = snd_read_module(&song, data, size);
    fuzz_check(song.pattern_count <= SND_MAX_PATTERNS, "at most 255 patterns");
    fuzz_check((song.order_len == 0) == (song.order == nullptr), "order list and its length agree");
    fuzz_check(*read == (song.order_len > 0), "a read module has order entries, a refused one none");
    fuzz_check(*read || song.pattern_count == 0, "a refused module has no patterns");
    return song;
}

static bool fuzz_same_song(const snd_song* a, const snd_song* b) {
    if (a->order_len != b->order_len || a->pattern_count != b->pattern_count) return false;
    if (a->order_len > 0 && memcmp(a->order, b->order, (size_t)a->order_len) != 0) return false;
    for (int32_t i = 0; i < a->pattern_count; i++)
        if (memcmp(a->patterns[i], b->patterns[i], sizeof(snd_pattern)) != 0) return false;
    return true;
}

// Room for the largest module: the header, 65535 order entries and 255 patterns of 256 cells with five fields.
static constexpr int32_t FUZZ_MODULE_MAX = 4 + SND_ORDER_MAX + SND_MAX_PATTERNS * 256 * 6;
static uint8_t fuzz_written[FUZZ_MODULE_MAX];   // the read song, written
static uint8_t fuzz_rewritten[FUZZ_MODULE_MAX]; // the song read back from those bytes, written again

// Packs a song into bytes in one pass: the buffer holds any module, so the size returned is the size stored.
static int32_t fuzz_pack(const snd_song* song, uint8_t* buffer) {
    const int32_t size = snd_pack_module(song, buffer, FUZZ_MODULE_MAX);
    fuzz_check(size >= 4 + song->order_len && size <= FUZZ_MODULE_MAX, "a read song can be written");
    return size;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_assert_finding = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    const int32_t allocs_before = os_alloc_count;
    int32_t read = 0;
    snd_song song = fuzz_read(data, (int32_t)size, &read);
    if (read) {
        fuzz_check(song.order_len == (data[2] << 8 | data[3]), "order length as stored");
        fuzz_check(memcmp(song.order, data + 4, (size_t)song.order_len) == 0, "order entries as stored");

        // Differential round trip: written and read again, the same song; written again, the same bytes.
        const int32_t written = fuzz_pack(&song, fuzz_written);
        int32_t reread = 0;
        snd_song again = fuzz_read(fuzz_written, written, &reread);
        fuzz_check(reread == 1, "a written song reads as a module");
        fuzz_check(fuzz_same_song(&song, &again), "a written song reads back as the same song");
        const bool same_bytes =
            fuzz_pack(&again, fuzz_rewritten) == written && memcmp(fuzz_rewritten, fuzz_written, (size_t)written) == 0;
        fuzz_check(same_bytes, "writing the read-back song gives the same bytes");
        snd_free_song(&eng, &again);

        const int32_t patterns_before = song.pattern_count;
        snd_repair_song(&song);
        fuzz_check(song.pattern_count == (patterns_before ? patterns_before : 1), "repair adds a pattern only if none");
        for (int32_t i = 0; i < song.order_len; i++) {
            const bool kept = data[4 + i] < patterns_before;
            fuzz_check(song.order[i] == (kept ? data[4 + i] : 0), "repair points only missing patterns at 0");
        }
    }
    snd_free_song(&eng, &song);
    fuzz_check(os_alloc_count == allocs_before, "every block of the song was freed");
    return 0;
}

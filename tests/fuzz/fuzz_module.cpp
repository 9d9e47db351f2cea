// Fuzz target: any bytes as a module file, played. Reads them into a song, checks the song's tables, makes the
// song usable as the tracker's LOAD does, plays a few hundred blocks of it in song mode, frees it, and checks
// that nothing is left allocated. Memory faults and undefined behaviour are reported by the sanitizers.
//
// The eight samples depend only on the amplitude, the noise seed and the clock, never on the module: they are
// generated once per process with the values the tracker's LOAD would see here, and every input's song plays
// them. The player only reads sample data, so this is the sound a freshly generated set would give.
#include "os_tools.h"
#include "sound.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static snd_engine eng; // the engine every input is read and played with

static constexpr int32_t FUZZ_BLOCKS = 300; // blocks of playback per input (about 15 s of audio)

static snd_song fuzz_samples; // holds the one generated sample table that every input's song plays

static int32_t fuzz_clock() { return 1234; }

// Stops the run with a message that libFuzzer reports as a finding.
static void fuzz_check(bool ok, const char* what) {
    if (ok) return;
    fprintf(stderr, "fuzz_module: %s\n", what);
    abort();
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    snd_init_engine(&eng);
    eng.snd_clock_ms = fuzz_clock;
    snd_create_song(&eng, &fuzz_samples, 0);
    fuzz_check(fuzz_samples.sample_count == SND_SAMPLES && eng.snd_live_samples == SND_SAMPLES, "the eight samples");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    snd_init_engine(&eng);
    const int32_t allocs_before = os_alloc_count;

    snd_song song;
    memset(&song, 0, sizeof song);
    song.samples = fuzz_samples.samples;
    song.sample_count = fuzz_samples.sample_count;
    snd_read_module(&song, data, (int32_t)size);
    fuzz_check(song.pattern_count <= SND_MAX_PATTERNS, "at most 255 patterns");
    fuzz_check(song.order_len >= 0 && song.order_len <= 65535, "order list within 16 bits");
    fuzz_check((song.order_len == 0) == (song.order == nullptr), "order list and its length agree");
    fuzz_check(song.order_len == 0 || (size >= 4 && song.order_len == (data[2] << 8 | data[3])),
               "order length as stored");
    for (int32_t i = 0; i < song.order_len; i++) fuzz_check(song.order[i] == data[4 + i], "order entries as stored");

    if (snd_song_usable(&song)) {
        snd_repair_song(&song);
        fuzz_check(song.pattern_count >= 1, "a repaired song has a pattern");
        for (int32_t i = 0; i < song.order_len; i++)
            fuzz_check(song.order[i] < song.pattern_count, "a repaired song's entries name patterns");
        static int16_t block[SND_BLOCK];
        snd_play_song(&eng, &song);
        for (int32_t b = 0; b < FUZZ_BLOCKS; b++) snd_render(&eng, block, SND_BLOCK);
    }
    // The song gives the shared samples back before it is freed.
    snd_stop_song(&eng, &song);
    song.samples = nullptr;
    song.sample_count = 0;
    snd_free_song(&eng, &song);
    fuzz_check(eng.snd_players[0] == nullptr, "the freed song left its player slot");
    fuzz_check(os_alloc_count == allocs_before, "every block of the song was freed");
    fuzz_check(eng.snd_live_samples == SND_SAMPLES, "the shared samples are untouched");
    return 0;
}

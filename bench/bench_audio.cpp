// Cost of one returned block on the audio path, seen from the device: the block goes back to the audio thread,
// which wakes, ticks the player, mixes and queues the replacement. The budget is the ~150 ms that the three blocks
// still queued cover.
#include "audio.h"
#include "manual_audio_device.h"
#include "os_tools.h"
#include "sound.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

// Sends standard output to /dev/null while it lives: the allocator logs every block of the song set-up.
struct quiet_stdout {
    int saved;
    quiet_stdout() {
        fflush(stdout);
        saved = dup(1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~quiet_stdout() {
        fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
};

void refill_round_trip(benchmark::State& state, bool playing) {
    snd_song song;
    {
        quiet_stdout quiet;
        manual_audio_reset_state();
        audio_engine.sound_amplitude = 32767;
        snd_create_song(&audio_engine, &song, 1);
        init_sounds();
    }
    if (playing) {
        // Four channels holding a chord with vibrato and detune: every voice mixes both oscillators.
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        for (int32_t c = 0; c < SND_CHANNELS; c++) {
            snd_play_note(&audio_engine, c * 3, 4, c, &song.samples[c], 0);
            snd_set_effect(&audio_engine, c, 0x35, 7);
            snd_set_effect(&audio_engine, c, 10, 6);
        }
    }
    for (auto _ : state) {
        const int64_t before = manual_audio_total_queued();
        manual_audio_return_one();
        manual_audio_wait_total(before + 1);
    }
    quiet_stdout quiet;
    snd_free_song(&audio_engine, &song);
    deinit_sounds();
    manual_audio_reset_state();
}

void BM_RefillSilent(benchmark::State& state) { refill_round_trip(state, false); }
void BM_RefillFourVoices(benchmark::State& state) { refill_round_trip(state, true); }

BENCHMARK(BM_RefillSilent)->UseRealTime();
BENCHMARK(BM_RefillFourVoices)->UseRealTime();

} // namespace

BENCHMARK_MAIN();

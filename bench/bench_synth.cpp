// Cost of mixing one block and of a player tick. The real-time factor is audio seconds per CPU second.
#include "sound.h"

#include <benchmark/benchmark.h>

static snd_engine eng; // the engine the cases play with

namespace {

struct Engine {
    snd_song song{};
    Engine() {
        eng.sound_amplitude = 32767;
        eng.snd_slot = 0;
        snd_ready_players(&eng);
        eng.snd_arp_period = 551;
        snd_create_song(&eng, &song, 1);
    }
    ~Engine() {
        snd_free_song(&eng, &song);
        for (int b = 0; b < 2; b++) snd_reset_voices(&eng, b);
    }
    // Voice 0 plain, 1 detuned, 2 with vibrato, 3 with arpeggio, in the current bank.
    void four_voices() {
        snd_play_note(&eng, 0, 4, 0, &song.samples[2], -1);
        snd_play_note(&eng, 4, 3, 1, &song.samples[0], -1);
        snd_set_effect(&eng, 1, 12, 6);
        snd_play_note(&eng, 7, 4, 2, &song.samples[7], -1);
        snd_set_effect(&eng, 2, 0x35, 7);
        snd_play_note(&eng, 0, 5, 3, &song.samples[1], -1);
        snd_set_effect(&eng, 3, 0x47, 3);
    }
};

// Mixes blocks with whatever voices sound; reports blocks per second and the real-time factor.
void mix_blocks(benchmark::State& state) {
    int16_t block[SND_BLOCK];
    for (auto _ : state) {
        snd_mix(&eng, block);
        benchmark::DoNotOptimize(block);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["realtime_x"] =
        benchmark::Counter((double)state.iterations() * SND_BLOCK / SND_RATE, benchmark::Counter::kIsRate);
}

void BM_MixFourVoices(benchmark::State& state) {
    Engine e;
    e.four_voices();
    mix_blocks(state);
}
BENCHMARK(BM_MixFourVoices);

// The same voices through the per-sample reference path: the ratio to BM_MixFourVoices is what running voices in
// stretches gains.
void BM_MixFourVoicesPerSample(benchmark::State& state) {
    Engine e;
    e.four_voices();
    int16_t block[SND_BLOCK];
    for (auto _ : state) {
        snd_mix_per_sample(&eng, block);
        benchmark::DoNotOptimize(block);
    }
    state.counters["realtime_x"] =
        benchmark::Counter((double)state.iterations() * SND_BLOCK / SND_RATE, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MixFourVoicesPerSample);

void BM_MixBothBanks(benchmark::State& state) {
    Engine e;
    eng.snd_slot = 1;
    e.four_voices();
    eng.snd_slot = 0;
    e.four_voices();
    mix_blocks(state);
}
BENCHMARK(BM_MixBothBanks);

void BM_TickAFullRow(benchmark::State& state) {
    Engine e;
    snd_pattern* p = e.song.patterns[0];
    for (int r = 0; r < SND_ROWS; r++)
        for (int c = 0; c < SND_CHANNELS; c++) {
            *snd_cell_field(p, c, SND_FIELD_NOTE, r) = (uint8_t)(0x40 + (r + c) % 12);
            *snd_cell_field(p, c, SND_FIELD_SAMPLE, r) = (uint8_t)c;
            *snd_cell_field(p, c, SND_FIELD_VOLUME, r) = 12;
            *snd_cell_field(p, c, SND_FIELD_EFFECT, r) = 3;
            *snd_cell_field(p, c, SND_FIELD_PARAM, r) = 0x37;
            *snd_cell_flags(p, c, r) = 0x1F;
        }
    snd_play_song(&eng, &e.song);
    eng.audio_blocks = 0;
    for (auto _ : state) {
        e.song.row_time = eng.audio_blocks - e.song.speed; // a row is due on every call
        benchmark::DoNotOptimize(snd_tick(&eng, &e.song, 0));
    }
    snd_stop_song(&eng, &e.song);
}
BENCHMARK(BM_TickAFullRow);

} // namespace

BENCHMARK_MAIN();

// Speed of the replayer on the benchmark song: two minutes of it through qvl_replay_render in calls of 1, 64,
// 1102 and 4096 samples, beside the baseline of the same engine ticked and mixed block by block without the API,
// measured in the same run. realtime_x is audio seconds rendered per second of CPU time, open and close included.
#include "quavlo_replay.h"
#include "sound.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

static snd_engine eng; // the engine the cases play with

namespace {

constexpr double SECONDS = 122.88;                        // two minutes of the song
constexpr int32_t FRAMES = (int32_t)(SECONDS * SND_RATE); // samples rendered per iteration

std::vector<uint8_t> bench_song() {
    std::vector<uint8_t> bytes;
    const std::string path = std::string(QUAVLO_SOURCE_DIR) + "/../shared/bench/bench_song.qvl";
    if (FILE* f = fopen(path.c_str(), "rb")) {
        for (int c; (c = fgetc(f)) != EOF;) bytes.push_back((uint8_t)c);
        fclose(f);
    }
    return bytes;
}

void report(benchmark::State& state, int64_t frames) {
    state.counters["realtime_x"] = benchmark::Counter((double)frames / SND_RATE, benchmark::Counter::kIsRate);
}

void BM_ReplayRender(benchmark::State& state) {
    const std::vector<uint8_t> module = bench_song();
    if (module.empty()) return state.SkipWithError("no benchmark song beside the repository");
    const int per_call = (int)state.range(0);
    std::vector<int16_t> buffer((size_t)per_call);
    int64_t frames = 0;
    for (auto _ : state) {
        qvl_replay* replay = qvl_replay_open(module.data(), module.size(), 0);
        int32_t done = 0;
        for (int got = per_call; got == per_call && done < FRAMES; done += got)
            got = qvl_replay_render(replay, buffer.data(), per_call);
        qvl_replay_close(replay);
        frames += done;
    }
    report(state, frames);
}
BENCHMARK(BM_ReplayRender)->Arg(1)->Arg(64)->Arg(1102)->Arg(4096)->Unit(benchmark::kMillisecond);

// The baseline: the engine the replayer wraps, rendering block by block as quavlo-cli drives it.
void BM_EngineRender(benchmark::State& state) {
    const std::vector<uint8_t> module = bench_song();
    if (module.empty()) return state.SkipWithError("no benchmark song beside the repository");
    int16_t block[SND_BLOCK];
    int64_t frames = 0;
    for (auto _ : state) {
        snd_init_engine(&eng);
        snd_song song = snd_unpack_module(&eng, module.data(), (int32_t)module.size());
        snd_repair_song(&song);
        snd_play_song(&eng, &song);
        for (int32_t done = 0; done < FRAMES; done += SND_BLOCK) snd_render(&eng, block, SND_BLOCK);
        snd_free_song(&eng, &song);
        frames += FRAMES;
    }
    report(state, frames);
}
BENCHMARK(BM_EngineRender)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

// Speed of an offline render as quavlo-cli does it: read a module that uses every effect, then render and append
// block after block to a WAV file until one pass is complete. realtime_x is audio seconds rendered per
// second of CPU time.
#include "os_platform.h"
#include "sound.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

static snd_engine eng; // the engine the cases play with

namespace {

int32_t zero_clock() { return 0; }

// Two patterns, all four channels busy: vibrato, arpeggio, detuned noise, inverted slide, speed change, slide
// down, fade, channel pin, note off, row jump, order jump, bare sample change.
std::vector<uint8_t> busy_module() {
    snd_song song;
    snd_create_song(&eng, &song, 2);
    song.order[1] = 1;
    auto cell = [](snd_pattern* p, int c, int r, uint8_t flags, std::vector<uint8_t> f) {
        *snd_cell_flags(p, c, r) = flags;
        for (int i = 0; i < 5; i++) *snd_cell_field(p, c, i, r) = f[i];
    };
    snd_pattern* a = song.patterns[0];
    snd_pattern* b = song.patterns[1];
    cell(a, 0, 0, 0x1F, {0x40, 2, 12, 0x07, 0x35});
    cell(a, 1, 0, 0x1F, {0x44, 0, 15, 0x03, 0x47});
    cell(a, 2, 0, 0x1F, {0x37, 6, 8, 0x06, 0x20});
    cell(a, 3, 0, 0x1F, {0x30, 7, 10, 0x21, 0x10});
    cell(a, 0, 8, 0x18, {0, 0, 0, 0x0F, 0x33});
    cell(a, 1, 12, 0x1F, {0x49, 1, 15, 0x02, 0x30});
    cell(a, 2, 16, 0x18, {0, 0, 0, 0x04, 0x06});
    cell(a, 3, 20, 0x18, {0, 0, 0, 0x05, 0x01});
    cell(a, 0, 32, 0x1F, {0x52, 3, 14, 0x0B, 40});
    cell(a, 1, 44, 0x1F, {0x50, 4, 14, 0x09, 0});
    cell(a, 0, 56, 0x18, {0, 0, 0, 0x0D, 0xFF});
    cell(b, 0, 0, 0x03, {0x47, 7, 0, 0, 0});
    cell(b, 1, 10, 0x02, {0, 2, 0, 0, 0});
    cell(b, 3, 24, 0x1F, {0x3B, 2, 15, 0x07, 0x12});
    cell(b, 2, 30, 0x18, {0, 0, 0, 0x0F, 0x02});
    // Packed through a file, as the CLI reads it.
    std::vector<uint8_t> bytes;
    char path[] = "/tmp/quavlo-bench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd >= 0) {
        close(fd);
        if (save_module(path, &song)) {
            std::FILE* in = std::fopen(path, "rb");
            for (int c; in && (c = std::fgetc(in)) != EOF;) bytes.push_back((uint8_t)c);
            if (in) std::fclose(in);
        }
        std::remove(path);
    }
    snd_free_song(&eng, &song);
    return bytes;
}

void BM_RenderOnePassAllEffects(benchmark::State& state) {
    eng.snd_clock_ms = zero_clock;
    snd_init_engine(&eng);
    const std::vector<uint8_t> module = busy_module();
    std::FILE* out = std::tmpfile();
    int16_t block[SND_BLOCK];
    int64_t blocks = 0;
    for (auto _ : state) {
        snd_init_engine(&eng);
        eng.end_with_song = true;
        eng.pass_limit = 1;
        snd_song song = snd_unpack_module(&eng, module.data(), (int32_t)module.size());
        snd_repair_song(&song);
        std::rewind(out);
        wav_write_header(out, 0);
        snd_play_song(&eng, &song);
        while (snd_render(&eng, block, SND_BLOCK) == SND_BLOCK) wav_write_samples(out, block, SND_BLOCK, std::fwrite);
        blocks += eng.audio_blocks;
        snd_free_song(&eng, &song);
    }
    std::fclose(out);
    state.counters["blocks_per_pass"] = (double)blocks / (double)state.iterations();
    state.counters["realtime_x"] =
        benchmark::Counter((double)blocks * SND_BLOCK / SND_RATE, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderOnePassAllEffects)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

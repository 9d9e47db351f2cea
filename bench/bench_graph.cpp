// Cost of the display's per-step work: composing and presenting a whole two-layer frame, a small changed area,
// and drawing a row of text in the large font. Runs on the headless platform.
#include "graph.h"
#include "headless.h"
#include "os_tools.h"

#include <benchmark/benchmark.h>

namespace {

// A display with layers 0 and 1 on, layer 1 half transparent, and a 16-pixel font over a made-up strip.
struct Scene {
    g_image strip;
    g_font font;
    Scene() {
        hl_reset();
        g_init_display();
        g_layer_on[1] = 1;
        g_fill_rect(0, 0, G_WIDTH, G_HEIGHT, 0xFF000096);
        g_target = &g_layers[1];
        g_target_index = 1;
        g_fill_rect(0, 0, G_WIDTH, G_HEIGHT, 0x80FF0000);
        strip = g_create_image(800, 10);
        for (int32_t i = 0; i < 800 * 10; i++) strip.pixels[i] = (i % 3) ? 0xFFFFFFFF : 0x00FF00FF;
        strip.color_key = 1;
        font = g_create_font(&strip, 16);
    }
    ~Scene() {
        g_free_font(&font);
        g_free_image(&strip);
        g_deinit_display();
    }
};

void BM_FlipWholeFrame(benchmark::State& state) {
    Scene scene;
    for (auto _ : state) {
        g_mark_dirty(0, 0, G_WIDTH, G_HEIGHT);
        g_flip();
    }
}
BENCHMARK(BM_FlipWholeFrame);

void BM_FlipOnePatternRow(benchmark::State& state) {
    Scene scene;
    for (auto _ : state) {
        g_mark_dirty(120, 100, 890, 115);
        g_flip();
    }
}
BENCHMARK(BM_FlipOnePatternRow);

void BM_DrawTextRow(benchmark::State& state) {
    Scene scene;
    for (auto _ : state) {
        g_draw_text("3F C#4 3 40 0F 20 D-5 1 -- -- -- C-3 2 7F 01 FF", &scene.font, 120, 100);
        benchmark::DoNotOptimize(g_layers[1].pixels[100 * G_WIDTH + 120]);
    }
}
BENCHMARK(BM_DrawTextRow);

} // namespace

BENCHMARK_MAIN();

// Cost of one step of the tracker (update, drawing, composition, presentation into the headless window):
// idle, typing a note, and playing, where the played row moves on every fourth step (a row of 100 ms, as in the
// benchmark song) and the pattern layer is redrawn then; the worst case adds a held mouse button, which redraws
// the interface layer too and composes the whole frame in every step.
#include "app.h"
#include "headless.h"
#include "manual_audio_device.h"
#include "os_platform.h"

#include <benchmark/benchmark.h>

namespace {

void start_app() {
    manual_audio_reset_state();
    hl_reset_loop();
    app_start();
    hl_advance_ms(25);
    app_frame(true);
}

void step() {
    hl_advance_ms(25);
    app_frame(true);
}

void BM_StepIdle(benchmark::State& state) {
    start_app();
    for (auto _ : state) step();
    app_shutdown();
}
BENCHMARK(BM_StepIdle);

void BM_StepTyping(benchmark::State& state) {
    start_app();
    for (auto _ : state) {
        os_set_key('Q', 1);
        step();
        os_set_key('Q', 0);
        app.editor.cursor_row &= 31;
    }
    app_shutdown();
}
BENCHMARK(BM_StepTyping);

void BM_StepPlaying(benchmark::State& state) {
    start_app();
    app_lock();
    snd_play_song(&audio_engine, &app.song);
    app_unlock();
    int32_t steps = 0;
    for (auto _ : state) {
        // No device hands blocks back here, so the player stands still: the row is moved on by hand.
        if (++steps % 4 == 0) app.song.row = (app.song.row + 1) % SND_ROWS;
        step();
    }
    app_lock();
    snd_stop_song(&audio_engine, &app.song);
    app_unlock();
    app_shutdown();
}
BENCHMARK(BM_StepPlaying);

void BM_StepPlayingFullFrame(benchmark::State& state) {
    start_app();
    app_lock();
    snd_play_song(&audio_engine, &app.song);
    app_unlock();
    os_mouse_x = 60;
    os_mouse_y = 400;
    os_mouse_down = 1;
    for (auto _ : state) step();
    os_mouse_down = 0;
    app_lock();
    snd_stop_song(&audio_engine, &app.song);
    app_unlock();
    app_shutdown();
}
BENCHMARK(BM_StepPlayingFullFrame);

} // namespace

BENCHMARK_MAIN();

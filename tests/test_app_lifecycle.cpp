// Start-up and shut-down of the whole tracker: the start-up log, what app_init builds, the first frame, and a
// shut-down that leaves no tracked block and no assertion, also after a working session and with a WAV
// capture still running.
#include "app_fixture.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

using LifecycleTest = AppTest;

TEST_F(LifecycleTest, StartUpLogsInOrder) {
    const std::vector<std::string> lines = log.lines();
    const char* expected[] = {"g_init_display\n",    "PLATFORM HEADLESS\n", "RENDER SW\n",
                              "g_init_display ok\n", "init sounds\n",       "AUDIO == TEST_AUDIO\n"};
    size_t at = 0;
    for (const char* line : expected) {
        while (at < lines.size() && lines[at] != line) at++;
        ASSERT_LT(at, lines.size()) << "missing or out of order: " << line << log.text();
        at++;
    }
    // Nothing is allocated before the display exists.
    EXPECT_EQ(lines.front(), "g_init_display\n");
}

TEST_F(LifecycleTest, InitBuildsPicturesFontsButtonsAndTheSong) {
    EXPECT_EQ(os_step_ms, 25);
    EXPECT_EQ(g_layer_on[0], 1);
    EXPECT_EQ(g_layer_on[1], 1);
    EXPECT_EQ(g_layer_on[2] | g_layer_on[3] | g_layer_on[4], 0);
    EXPECT_EQ(app.logo_image.width, 512);
    EXPECT_EQ(app.logo_image.height, 50);
    EXPECT_EQ(app.glyph_strip_2x.width, 840);
    EXPECT_EQ(app.glyph_strip_2x.height, 10);
    EXPECT_EQ(app.glyph_strip_1x.width, 420);
    EXPECT_EQ(app.glyph_strip_1x.height, 10);
    ASSERT_NE(app.glyph_strip_1x.pixels, nullptr);
    // The 2x strip repeats every pixel of the 1x strip twice.
    for (int32_t y = 0; y < 10; y++)
        for (int32_t x = 0; x < 420; x++) {
            const uint32_t p = app.glyph_strip_1x.pixels[y * 420 + x];
            ASSERT_EQ(app.glyph_strip_2x.pixels[y * 840 + 2 * x], p);
            ASSERT_EQ(app.glyph_strip_2x.pixels[y * 840 + 2 * x + 1], p);
        }
    EXPECT_EQ(app.font_large.image, &app.glyph_strip_2x);
    EXPECT_EQ(app.font_large.cell_width, 16);
    EXPECT_EQ(app.font_large2.image, &app.glyph_strip_2x);
    EXPECT_NE(app.font_large2.glyphs, app.font_large.glyphs) << "a separate table of the same content";
    EXPECT_EQ(memcmp(app.font_large2.glyphs, app.font_large.glyphs, 255 * sizeof(int16_t)), 0);
    EXPECT_EQ(app.font_small.image, &app.glyph_strip_1x);
    EXPECT_EQ(app.font_small.cell_width, 8);
    EXPECT_EQ(app.font_small.cell_height, 10);

    struct {
        const ui_button& b;
        int32_t y;
        const char* label;
    } const buttons[] = {
        {app.btn_new, 100, "NEW"}, {app.btn_load, 135, "LOAD"}, {app.btn_save, 170, "SAVE"}, {app.btn_wav, 205, "WAV"}};
    for (const auto& e : buttons) {
        EXPECT_EQ(e.b.x, 5);
        EXPECT_EQ(e.b.y, e.y);
        EXPECT_EQ(e.b.width, 100);
        EXPECT_EQ(e.b.height, 30);
        EXPECT_STREQ(e.b.label, e.label);
        EXPECT_EQ(e.b.press_frames, 0);
    }

    EXPECT_EQ(app.song.pattern_count, 1);
    EXPECT_EQ(app.song.order_len, 1);
    EXPECT_EQ(app.song.sample_count, 8);
    EXPECT_EQ(audio_engine.snd_players[0], nullptr);
    EXPECT_EQ(app.editor.status_dirty, 1);
    EXPECT_EQ(app.editor.pattern_dirty, 1);
    EXPECT_EQ(app.editor.present_flag, 0);
    EXPECT_EQ(app_present_flag(), 0);
}

TEST_F(LifecycleTest, FirstStepDrawsAndPresentsTheWholeFrame) {
    EXPECT_EQ(hl_presents, 0);
    step();
    EXPECT_EQ(hl_presents, 1);
    EXPECT_EQ(hl_present_x0, 0);
    EXPECT_EQ(hl_present_y0, 0);
    EXPECT_EQ(hl_present_x1, G_WIDTH);
    EXPECT_EQ(hl_present_y1, G_HEIGHT);
    EXPECT_EQ(app.editor.status_dirty, 0);
    EXPECT_EQ(app.editor.pattern_dirty, 0);
    EXPECT_NE(app_present_flag(), 0);
    EXPECT_EQ(status_pattern, 0);
    // A quiet step draws nothing more.
    step();
    EXPECT_EQ(hl_presents, 1);
    // A typed note redraws only the pattern window.
    tap('Q');
    EXPECT_EQ(hl_presents, 2);
    EXPECT_EQ(hl_present_x0, 120);
    EXPECT_EQ(hl_present_y0, 100);
    EXPECT_EQ(hl_present_x1, 890);
    EXPECT_EQ(hl_present_y1, 490) << "the last row reaches below the window, under the interface layer";
}

TEST_F(LifecycleTest, ShutDownAfterAWorkingSessionLeavesNothing) {
    step();
    type("QWERTY");
    ctrl(fkey(3));
    ctrl('A');
    tap(VK_RETURN);
    play_blocks(6);
    step();
    hl_save_answer = (dir / "session.qvl").string();
    ctrl('S');
    ctrl('O');
    hl_open_answer = hl_save_answer;
    ctrl('L');
    ASSERT_EQ(app.song.pattern_count, 2);
    ctrl('W');
    ctrl('W');
    ctrl('O');
    stop();
    EXPECT_EQ(os_alloc_count, 0);
    EXPECT_EQ(log.asserts(), 0) << log.text();
    EXPECT_EQ(log.count("deinit sounds"), 1);
    EXPECT_EQ(log.count("g_deinit_display"), 1);
    EXPECT_EQ(std::string(app.btn_wav.label), "WAV");
}

TEST_F(LifecycleTest, RecordingStillRunningAtShutDownIsFinished) {
    step();
    type("QE");
    ctrl('W');
    play_blocks(6);
    EXPECT_STREQ(app.btn_wav.label, "STOP");
    stop();
    EXPECT_EQ(audio_engine.capture.wav_file, nullptr);
    std::ifstream f(dir / "song.wav", std::ios::binary);
    const std::vector<uint8_t> wav((std::istreambuf_iterator<char>(f)), {});
    ASSERT_EQ(wav.size(), 44u + 4u * SND_BLOCK * 2);
    const uint32_t riff = wav[4] | wav[5] << 8 | wav[6] << 16 | (uint32_t)wav[7] << 24;
    const uint32_t data = wav[40] | wav[41] << 8 | wav[42] << 16 | (uint32_t)wav[43] << 24;
    EXPECT_EQ(riff, wav.size() - 8);
    EXPECT_EQ(data, wav.size() - 44);
}

// The whole program through the frame loop: start-up on the first tick, steps, input events, the quit event
// and shut-down.
TEST(LifecycleRun, RunLoopFromStartToQuit) {
    LogCapture log;
    manual_audio_reset_state();
    hl_reset_loop();
    hl_push_key('Q', true);
    hl_push_key('Q', false);
    for (int i = 0; i < 200; i++) hl_push_call([] {}); // time for several steps
    // Enter is read from the key table: it must still be down when the next step runs.
    hl_push_key(VK_RETURN, true);
    for (int i = 0; i < 30; i++) hl_push_call([] {});
    hl_push_key(VK_RETURN, false);
    for (int i = 0; i < 100; i++) hl_push_call([] {});
    bool was_playing = false;
    hl_push_call([&] { was_playing = audio_engine.snd_players[0] != nullptr; });
    hl_push_quit();
    hl_push_key('Q', true); // never taken: the loop ends at the quit
    app_run();
    EXPECT_TRUE(was_playing);
    EXPECT_EQ(hl_pending_events(), 1);
    EXPECT_GT(hl_presents, 0);
    EXPECT_EQ(os_alloc_count, 0);
    EXPECT_EQ(log.asserts(), 0) << log.text();
    const std::vector<std::string> lines = log.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(log.count("deinit sounds"), 1);
    EXPECT_NE(lines.back().find("os_free"), std::string::npos) << "the display is the last to go";
}

// A close refused at the save question keeps the loop stepping; the next close, answered Discard, ends it with
// one shut-down.
TEST(LifecycleRun, RefusedCloseKeepsTheLoopRunning) {
    LogCapture log;
    manual_audio_reset_state();
    hl_reset_loop();
    hl_push_key('Q', true); // a typed note: the song has unsaved changes
    hl_push_key('Q', false);
    for (int i = 0; i < 10; i++) hl_push_call([] {});
    hl_push_call([] { hl_ask_answer = OS_ANSWER_CANCEL; });
    hl_push_quit();
    uint32_t step_at_refusal = 0, step_before_close = 0;
    hl_push_call([&] { step_at_refusal = os_next_step; });
    for (int i = 0; i < 40; i++) hl_push_call([] {});
    hl_push_call([&] { step_before_close = os_next_step; });
    hl_push_call([] { hl_ask_answer = OS_ANSWER_DISCARD; });
    hl_push_quit();
    hl_push_call([] {}); // never taken: the loop ends at the granted close
    app_run();
    EXPECT_EQ(hl_questions, 2);
    EXPECT_GT(step_before_close, step_at_refusal) << "steps run between the refused close and the granted one";
    EXPECT_EQ(hl_pending_events(), 1);
    EXPECT_EQ(log.count("deinit sounds"), 1);
    EXPECT_EQ(os_alloc_count, 0);
    EXPECT_EQ(log.asserts(), 0) << log.text();
}

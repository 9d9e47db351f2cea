// A whole tracker, started headless for each test: scripted clock and keys, the window as a pixel buffer, the
// manual audio device whose blocks the test hands back. Each test runs in its own scratch directory, so
// "song.wav" and saved files never meet another test's.
#pragma once
#include "app.h"
#include "graph.h"
#include "headless.h"
#include "log_capture.h"
#include "manual_audio_device.h"
#include "os_platform.h"
#include "os_tools.h"
#include "sound.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

// Virtual-key code of function key n (1..9).
constexpr int32_t fkey(int32_t n) { return VK_F1 + n - 1; }

class AppTest : public ::testing::Test {
protected:
    LogCapture log;
    std::filesystem::path dir;
    std::filesystem::path old_dir;
    int expected_asserts = 0; // assertions a test provokes on purpose
    bool started = false;

    void SetUp() override {
        old_dir = std::filesystem::current_path();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = std::filesystem::temp_directory_path() /
              ("quavlo_app_" + std::to_string(getpid()) + "_" + info->test_suite_name() + "_" + info->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        std::filesystem::current_path(dir);
        manual_audio_reset_state();
        hl_reset_loop();
        before_start();
        start();
    }

    // What a suite sets up before the tracker starts (the device's kind, a device that fails to open).
    virtual void before_start() {}

    void TearDown() override {
        stop();
        EXPECT_EQ(os_alloc_count, 0);
        EXPECT_EQ(log.asserts(), expected_asserts) << log.text();
        std::filesystem::current_path(old_dir);
        std::filesystem::remove_all(dir);
    }

    // The host starts the application.
    void start() {
        app_start();
        started = true;
    }

    void stop() {
        if (!started) return;
        started = false;
        app_shutdown();
    }

    // Exactly one step of the frame loop: update, drawing, presentation, key counters.
    void step(int n = 1) {
        for (int i = 0; i < n; i++) {
            hl_advance_ms(25);
            app_frame(true);
        }
    }

    // The events as the loop takes them, a typed note's early preview included.
    void pump() {
        while (hl_pending_events() > 0) app_poll_event();
    }
    void down(int32_t vk) {
        hl_push_key(vk, true);
        pump();
    }
    void up(int32_t vk) {
        hl_push_key(vk, false);
        pump();
    }
    // Press, one step, release: what a quick key press looks like to the editor.
    void tap(int32_t vk) {
        down(vk);
        step();
        up(vk);
    }
    void ctrl(int32_t vk) {
        down(VK_CONTROL);
        tap(vk);
        up(VK_CONTROL);
    }
    void shift(int32_t vk) {
        down(VK_SHIFT);
        tap(vk);
        up(VK_SHIFT);
    }
    void type(const char* keys) {
        for (const char* k = keys; *k; k++) tap((uint8_t)*k);
    }
    void click(const ui_button& b) {
        hl_push_mouse_move(b.x + b.width / 2, b.y + b.height / 2);
        hl_push_mouse_button(true);
        pump();
        step(2); // the press is seen by the drawing, the command fires in the next update
        hl_push_mouse_button(false);
        pump();
        step();
    }
    void move_to(int32_t col, int32_t row) {
        app.editor.cursor_col = col;
        app.editor.cursor_row = row;
    }

    // Hands n blocks back to the audio thread and waits until it has ticked the player and refilled each.
    void play_blocks(int n) {
        for (int i = 0; i < n; i++) {
            const int64_t total = manual_audio_total_queued();
            ASSERT_TRUE(manual_audio_return_one());
            ASSERT_TRUE(manual_audio_wait_total(total + 1));
        }
    }

    snd_pattern* pat(int32_t index = -1) {
        if (index < 0) index = app.song.pattern;
        return app.song.patterns[index];
    }
    uint8_t field(int32_t channel, int32_t f, int32_t row, int32_t pattern = -1) {
        return *snd_cell_field(pat(pattern), channel, f, row);
    }
    uint8_t flags(int32_t channel, int32_t row, int32_t pattern = -1) {
        return *snd_cell_flags(pat(pattern), channel, row);
    }
    uint32_t pixel(int32_t x, int32_t y) const { return hl_window[y * G_WIDTH + x]; }
};

// The Win32 platform backend under Wine (with an X server): the window as created (class, title, style, a
// 900 x 520 client area), window messages to the polled input state through the real window procedure (key
// indices by virtual-key code, system keys that never reach the key table, the mouse), presentation into the
// frame bitmap, the audio thread's Windows message queue, and the close that asks the run loop to end.
#include "platform_win32.h"

#include "audio.h"
#include "graph.h"
#include "os_tools.h"
#include "sound.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> log_lines;
void keep_line(const char* line) { log_lines.push_back(line); }
int asserts_logged() {
    int n = 0;
    for (const std::string& l : log_lines) n += l.rfind("assert:", 0) == 0;
    return n;
}

void clear_input() {
    memset(os_keys, 0, sizeof os_keys);
    os_keys_held = 0;
    os_last_key = 0;
    os_mouse_x = os_mouse_y = os_mouse_down = 0;
}

// One window for the whole suite, made as the display start-up makes it; the last test closes it.
class Win32Window : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        g_display = g_display_info{G_WIDTH, G_HEIGHT, G_WIDTH, G_HEIGHT, 1};
        ASSERT_EQ(os_init_window(&g_display), 1);
    }
    void SetUp() override {
        ASSERT_NE(os_window(), nullptr);
        clear_input();
    }
    static LRESULT send(UINT message, WPARAM wparam, LPARAM lparam = 0) {
        return SendMessageA(os_window(), message, wparam, lparam);
    }
};

TEST_F(Win32Window, IsTheTrackersWindowWithA900By520ClientArea) {
    HWND window = os_window();
    char text[64] = "";
    GetClassNameA(window, text, sizeof text);
    EXPECT_STREQ(text, "zindraClass");
    GetWindowTextA(window, text, sizeof text);
    EXPECT_STREQ(text, "QuavloII");
    const LONG style = GetWindowLongA(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU), WS_POPUP | WS_CAPTION | WS_SYSMENU);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
    EXPECT_TRUE(IsWindowVisible(window));
    RECT client;
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.right - client.left, 900);
    EXPECT_EQ(client.bottom - client.top, 520);

    os_set_title("QuavloII - tune.qvl");
    GetWindowTextA(window, text, sizeof text);
    EXPECT_STREQ(text, "QuavloII - tune.qvl");
    os_set_title("QuavloII");
}

TEST_F(Win32Window, KeyMessagesReachTheKeyTableByVirtualKeyCode) {
    const struct {
        WPARAM vk;
        int32_t index;
    } keys[] = {
        {VK_LEFT, KEY_LEFT},
        {VK_RIGHT, KEY_RIGHT},
        {VK_UP, KEY_UP},
        {VK_DOWN, KEY_DOWN},
        {VK_DELETE, KEY_DELETE},
        {VK_SHIFT, KEY_SHIFT},
        {VK_CONTROL, KEY_CTRL},
        {VK_F1, KEY_F1},
        {VK_F2, KEY_F2},
        {VK_F5, KEY_F5},
        {VK_F9, KEY_F9},
        {VK_RETURN, 13},
        {VK_SPACE, 32},
        {VK_ESCAPE, 27},
        {'Q', 81},
        {'0', 48},
        {'9', 57},
        {'Z', 90},
        // The fold of 97..122: the keypad's 1 and its operators, F10 and F11 land on letters.
        {VK_NUMPAD1, 'A'},
        {VK_NUMPAD9, 'I'},
        {VK_MULTIPLY, 'J'},
        {VK_DIVIDE, 'O'},
        {VK_F10, 'Y'},
        {VK_F11, 'Z'},
        // The keypad's 0 and F12 keep their codes.
        {VK_NUMPAD0, 96},
        {VK_F12, 123},
    };
    for (const auto& k : keys) {
        SCOPED_TRACE(testing::Message() << "vk " << k.vk);
        clear_input();
        EXPECT_EQ(send(WM_KEYDOWN, k.vk, 1), 0);
        EXPECT_EQ(os_keys[k.index], 1);
        EXPECT_EQ(os_last_key, k.index);
        EXPECT_EQ(os_keys_held, 1);
        EXPECT_EQ(send(WM_KEYUP, k.vk, (LPARAM)0xC0000001), 0);
        os_advance_keys(); // a tap counts in the step after it; the key is free after that step
        EXPECT_EQ(os_keys[k.index], 0);
        EXPECT_EQ(os_keys_held, 0);
    }
}

TEST_F(Win32Window, SystemKeysAndCharactersNeverReachTheKeyTable) {
    // Alt+W and a lone F10 arrive as system keys; typed characters as WM_CHAR.
    send(WM_SYSKEYDOWN, 'W', (LPARAM)0x20000001);
    send(WM_SYSKEYUP, 'W', (LPARAM)0xE0000001);
    send(WM_SYSKEYDOWN, VK_F10, 1);
    send(WM_SYSKEYUP, VK_F10, (LPARAM)0xC0000001);
    send(WM_CHAR, 'q', 1);
    for (int i = 0; i < 256; i++) EXPECT_EQ(os_keys[i], 0) << i;
    EXPECT_EQ(os_keys_held, 0);
    EXPECT_EQ(os_last_key, 0);
}

TEST_F(Win32Window, MouseMessagesSetPositionAndLeftButton) {
    send(WM_MOUSEMOVE, 0, MAKELPARAM(899, 519));
    EXPECT_EQ(os_mouse_x, 899);
    EXPECT_EQ(os_mouse_y, 519);
    // Coordinates are taken as the unsigned 16-bit values the message carries.
    send(WM_MOUSEMOVE, 0, MAKELPARAM(0xFFFF, 3));
    EXPECT_EQ(os_mouse_x, 65535);
    EXPECT_EQ(os_mouse_y, 3);
    send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    EXPECT_EQ(os_mouse_down, 1);
    // The position comes from moves only; other buttons change nothing.
    EXPECT_EQ(os_mouse_x, 65535);
    send(WM_RBUTTONDOWN, MK_RBUTTON, 0);
    send(WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
    EXPECT_EQ(os_mouse_down, 0);
    send(WM_RBUTTONUP, 0, 0);
    EXPECT_EQ(os_mouse_down, 0);
}

TEST_F(Win32Window, PresentCopiesTheFrameRectangleIntoTheBitmap) {
    std::vector<uint32_t> composite((size_t)G_WIDTH * G_HEIGHT);
    for (size_t i = 0; i < composite.size(); i++) composite[i] = 0xFF000000u | (uint32_t)(i * 2654435761u >> 8);
    uint32_t* saved = g_composite;
    g_composite = composite.data();
    const uint32_t* dib = os_dib_pixels();
    ASSERT_NE(dib, nullptr);
    std::vector<uint32_t> before(dib, dib + composite.size());

    g_frame = g_rect{10, 20, 110, 70};
    os_present(G_WIDTH, G_HEIGHT);
    int inside = 0, outside = 0;
    for (int32_t y = 0; y < G_HEIGHT; y++)
        for (int32_t x = 0; x < G_WIDTH; x++) {
            const size_t i = (size_t)y * G_WIDTH + x;
            const bool in = x >= 10 && x < 110 && y >= 20 && y < 70;
            if (in ? dib[i] != composite[i] : dib[i] != before[i]) (in ? inside : outside)++;
        }
    EXPECT_EQ(inside, 0) << "pixels of the rectangle not copied";
    EXPECT_EQ(outside, 0) << "pixels outside the rectangle changed";

    // An empty frame rectangle presents nothing.
    composite.assign(composite.size(), 0xFFFFFFFFu);
    g_frame = g_rect{0xFFFF, 0xFFFF, 0, 0};
    os_present(G_WIDTH, G_HEIGHT);
    EXPECT_NE(dib[0], 0xFFFFFFFFu);
    g_composite = saved;
}

// With a sound card (the stage's ALSA null device) the system posts finished blocks to the audio thread's
// queue, which refills them; without one the thread waits idle. Either way the posted quit ends it.
TEST_F(Win32Window, AudioThreadTakesBlocksFromItsQueueAndEndsOnQuit) {
    log_lines.clear();
    os_log_sink = keep_line;
    init_sounds();
    EXPECT_TRUE(audio_thread_running());
    const bool had_device = audio_device != nullptr;
    if (had_device) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (audio_engine.audio_blocks < 3 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_GE(audio_engine.audio_blocks, 3) << "the device handed no blocks back to the audio thread";
    } else {
        std::printf("no sound device: the audio thread stays idle\n");
    }
    deinit_sounds();
    os_log_sink = nullptr;
    EXPECT_FALSE(audio_thread_running());
    EXPECT_EQ(audio_device, nullptr);
    EXPECT_NE(std::find(log_lines.begin(), log_lines.end(), "AUDIO == WIN32_AUDIO\n"), log_lines.end());
    // Without a device, the failed open, the close and the shut-down each report it; with one, nothing is wrong.
    EXPECT_EQ(asserts_logged(), had_device ? 0 : 3);
}

TEST_F(Win32Window, ClosingTheWindowAsksTheRunLoopToEnd) {
    HWND window = os_window();
    MSG pending;
    while (PeekMessageA(&pending, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&pending);
    EXPECT_EQ(os_poll_event(), 0);
    // The close is a request passed on by the next poll, once; the window stays until the program ends.
    send(WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(os_poll_event(), 1);
    EXPECT_EQ(os_poll_event(), 0);
    os_release_window();
    os_destroy_dib();
    EXPECT_EQ(os_window(), nullptr);
    EXPECT_EQ(os_dib_pixels(), nullptr);
}

} // namespace

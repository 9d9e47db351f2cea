// The Win32 platform backend under Wine (with an X server): the window as created (class with the program's icon
// and the arrow cursor, title, style with a minimise button, the frame at the requested scale of 2), the scale
// chosen for a monitor's work area and again on a DPI change, window messages to the polled input state through the
// real window procedure (the typing block by scan code, so an AZERTY keyboard plays the notes of the US positions;
// other keys by virtual-key code; system keys that never reach the key table; the mouse mapped back to frame
// pixels), presentation into the frame bitmap and, enlarged, onto the window, the audio thread's Windows message
// queue, and the close that asks the run loop to end.
#include "platform_win32.h"

#include "audio.h"
#include "graph.h"
#include "os_midi.h"
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

// One window for the whole suite, made as the display start-up makes it with --scale 2 (larger than the stage's
// screen allows by itself); the last test closes it.
class Win32Window : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        g_display = g_display_info{G_WIDTH, G_HEIGHT, G_WIDTH, G_HEIGHT, 1};
        os_window_scale = 2;
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

TEST_F(Win32Window, IsTheTrackersWindowWithTheFrameAtTwiceItsSize) {
    HWND window = os_window();
    char text[64] = "";
    GetClassNameA(window, text, sizeof text);
    EXPECT_STREQ(text, "zindraClass");
    GetWindowTextA(window, text, sizeof text);
    EXPECT_STREQ(text, "QuavloII");
    const LONG style = GetWindowLongA(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX), WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ((HCURSOR)GetClassLongPtrA(window, GCLP_HCURSOR), LoadCursorA(nullptr, (LPCSTR)IDC_ARROW));
    EXPECT_NE(GetClassLongPtrA(window, GCLP_HICON), 0) << "the window has not taken the program's icon";
    EXPECT_NE(GetClassLongPtrA(window, GCLP_HICONSM), 0);
    RECT client;
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.right - client.left, 1800);
    EXPECT_EQ(client.bottom - client.top, 1040);
    EXPECT_EQ(os_window_scale_in_use(), 2);

    // The title arrives whole in any script (the manifest's UTF-8 code page).
    os_set_title("QuavloII - ноты 曲.qvl *");
    wchar_t wide[64] = L"";
    GetWindowTextW(window, wide, 64);
    EXPECT_STREQ(wide, L"QuavloII - ноты 曲.qvl *");
    os_set_title("QuavloII");
}

TEST(Win32Scale, LargestThatFitsTheWorkAreaUnlessTheCommandLineSetOne) {
    const struct {
        LONG width, height;
        int32_t requested, scale;
    } cases[] = {
        // The area's size, not its corner, decides: exactly the room for 3x, and one pixel short either way; a scale
        // the command line set wins at any size.
        {2740, 1660, 0, 3}, {2739, 1660, 0, 2}, {2740, 1659, 0, 2}, {1280, 800, 3, 3}, {3840, 2100, 1, 1},
    };
    const int32_t saved = os_window_scale;
    for (const auto& c : cases) {
        os_window_scale = c.requested;
        const RECT work = {100, 50, 100 + c.width, 50 + c.height};
        EXPECT_EQ(os_scale_for_work_area(work), c.scale) << c.width << "x" << c.height << " --scale " << c.requested;
    }
    os_window_scale = saved;
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
    // A key held when the window loses the keyboard is let go: its release goes to another window.
    clear_input();
    send(WM_KEYDOWN, 'Q', 1);
    ASSERT_EQ(os_keys_held, 1);
    EXPECT_EQ(send(WM_KILLFOCUS, 0, 0), 0);
    EXPECT_EQ(os_keys['Q'], 0);
    EXPECT_EQ(os_keys_held, 0);
}

// Key messages as an AZERTY keyboard sends them: the virtual-key code follows the printed letter, the scan code
// the key's place. The typing block goes by place (the US key there), the rest by code.
TEST_F(Win32Window, AzertyKeysPlayTheNotesOfTheirPlaces) {
    const struct {
        WPARAM vk;     // what AZERTY prints on the key
        int scan;      // where it sits
        bool extended; // an extended key (arrows, the navigation block)
        int32_t index; // key index the tracker sees
    } keys[] = {
        {'A', 0x10, false, 'Q'},        // C of the current octave
        {'Q', 0x1E, false, 'A'},        // a hex digit
        {'W', 0x2C, false, 'Z'},        // C an octave lower
        {'M', 0x27, false, 186},        // the US ';' key: no note
        {188, 0x32, false, 'M'},        // AZERTY ',' sits on the US M: B an octave lower
        {'2', 0x03, false, '2'},        // the digit row: C#
        {219, 0x0C, false, 189},        // AZERTY ')' on the US '-'
        {VK_DIVIDE, 0x35, true, 'O'},   // the keypad's '/' (extended) shares the scan code of the US '/' key
        {VK_NUMPAD4, 0x4B, false, 'D'}, // the keypad's 4 (Num Lock on) shares the arrow's scan code
    };
    for (const auto& k : keys) {
        SCOPED_TRACE(testing::Message() << "vk " << k.vk << " scan " << k.scan);
        clear_input();
        const LPARAM down = 1 | (LPARAM)k.scan << 16 | (LPARAM)(k.extended ? 1 : 0) << 24;
        send(WM_KEYDOWN, k.vk, down);
        EXPECT_EQ(os_last_key, k.index);
        EXPECT_EQ(os_keys[k.index], 1);
        EXPECT_EQ(os_keys_held, 1);
        send(WM_KEYUP, k.vk, down | (LPARAM)0xC0000000);
        os_advance_keys();
        EXPECT_EQ(os_keys[k.index], 0) << "released under another index than it was pressed";
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

TEST_F(Win32Window, MouseMessagesSetPositionInFramePixelsAndLeftButton) {
    // Window pixels at scale 2: each frame pixel is a 2 x 2 square.
    send(WM_MOUSEMOVE, 0, MAKELPARAM(1799, 1039));
    EXPECT_EQ(os_mouse_x, 899);
    EXPECT_EQ(os_mouse_y, 519);
    send(WM_MOUSEMOVE, 0, MAKELPARAM(110, 441));
    EXPECT_EQ(os_mouse_x, 55);
    EXPECT_EQ(os_mouse_y, 220);
    // Coordinates are taken as the unsigned 16-bit values the message carries.
    send(WM_MOUSEMOVE, 0, MAKELPARAM(0xFFFF, 3));
    EXPECT_EQ(os_mouse_x, 32767);
    EXPECT_EQ(os_mouse_y, 1);
    send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    EXPECT_EQ(os_mouse_down, 1);
    // The position comes from moves only; other buttons change nothing.
    EXPECT_EQ(os_mouse_x, 32767);
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

// What the window shows, read back from its device context: width x height pixels from (x, y), 0xRRGGBB.
std::vector<uint32_t> window_pixels(int32_t x, int32_t y, int32_t width, int32_t height) {
    HDC window = GetDC(os_window());
    HDC memory = CreateCompatibleDC(window);
    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(window, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, window, x, y, SRCCOPY);
    GdiFlush();
    std::vector<uint32_t> pixels((const uint32_t*)bits, (const uint32_t*)bits + (size_t)width * height);
    for (uint32_t& p : pixels) p &= 0xFFFFFF;
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(os_window(), window);
    return pixels;
}

TEST_F(Win32Window, PresentShowsEachFramePixelAsASharpSquare) {
    // A checkerboard of single pixels in four colours: any blending would show as a fifth.
    std::vector<uint32_t> composite((size_t)G_WIDTH * G_HEIGHT, 0xFF000000u);
    const uint32_t colours[4] = {0xFF0000u, 0x00FF00u, 0x0000FFu, 0xFFFF00u};
    for (int32_t y = 40; y < 60; y++)
        for (int32_t x = 200; x < 220; x++) composite[(size_t)y * G_WIDTH + x] = 0xFF000000u | colours[(x + 2 * y) & 3];
    uint32_t* saved = g_composite;
    g_composite = composite.data();
    g_frame = g_rect{200, 40, 220, 60};
    os_present(G_WIDTH, G_HEIGHT);
    const std::vector<uint32_t> shown = window_pixels(400, 80, 40, 40);
    int wrong = 0;
    for (int32_t y = 0; y < 40; y++)
        for (int32_t x = 0; x < 40; x++)
            wrong += shown[(size_t)y * 40 + x] != colours[(200 + x / 2 + 2 * (40 + y / 2)) & 3];
    EXPECT_EQ(wrong, 0) << "window pixels that are not their frame pixel's colour";
    g_composite = saved;
}

// The window moved to a monitor of another DPI: the scale is chosen again for that monitor (the stage's screen
// fits only scale 1), unless the command line fixed it.
TEST_F(Win32Window, ADpiChangeChoosesTheScaleAgain) {
    HWND window = os_window();
    RECT proposed;
    GetWindowRect(window, &proposed);
    send(WM_DPICHANGED, MAKEWPARAM(120, 120), (LPARAM)&proposed);
    EXPECT_EQ(os_window_scale_in_use(), 2) << "--scale 2 must win";

    os_window_scale = 0;
    send(WM_DPICHANGED, MAKEWPARAM(96, 96), (LPARAM)&proposed);
    RECT client;
    GetClientRect(window, &client);
    const int32_t scale =
        os_scale_for_work_area(RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)});
    EXPECT_EQ(os_window_scale_in_use(), scale);
    EXPECT_EQ(client.right - client.left, G_WIDTH * scale);
    EXPECT_EQ(client.bottom - client.top, G_HEIGHT * scale);
    send(WM_MOUSEMOVE, 0, MAKELPARAM(899, 519));
    EXPECT_EQ(os_mouse_x, 899 / scale);

    os_window_scale = 2;
    send(WM_DPICHANGED, MAKEWPARAM(96, 96), (LPARAM)&proposed);
    GetClientRect(window, &client);
    EXPECT_EQ(client.right - client.left, 1800);
}

// With a sound card (the stage's ALSA null device) the system posts finished blocks to the audio thread's
// queue, which refills them, until the posted quit ends it; without one the thread has ended at once, and the
// tracker's clock keeps the song's time.
TEST_F(Win32Window, AudioThreadTakesBlocksFromItsQueueAndEndsOnQuit) {
    log_lines.clear();
    os_log_sink = keep_line;
    init_sounds();
    const bool had_device = audio_device != nullptr;
    EXPECT_EQ(audio_thread_running(), had_device);
    if (had_device) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (audio_engine.audio_blocks < 3 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_GE(audio_engine.audio_blocks, 3) << "the device handed no blocks back to the audio thread";
    } else {
        std::printf("no sound device: no audio thread\n");
        EXPECT_NE(std::find(log_lines.begin(), log_lines.end(), "AUDIO NO DEVICE\n"), log_lines.end());
    }
    deinit_sounds();
    os_log_sink = nullptr;
    EXPECT_FALSE(audio_thread_running());
    EXPECT_EQ(audio_device, nullptr);
    EXPECT_NE(std::find(log_lines.begin(), log_lines.end(), "AUDIO == WIN32_AUDIO\n"), log_lines.end());
    // A missing device is no fault of the program: nothing is reported as one either way.
    EXPECT_EQ(asserts_logged(), 0);
}

// A note-on queued on another thread (winmm's callback) leaves a message for the loop, so its wait ends at once.
TEST_F(Win32Window, AMidiNoteFromAnotherThreadWakesTheLoop) {
    MSG pending;
    while (PeekMessageA(&pending, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&pending);
    ASSERT_EQ(HIWORD(GetQueueStatus(QS_POSTMESSAGE)) & QS_POSTMESSAGE, 0u);
    std::thread source([] {
        const uint8_t note_on[] = {0x90, 0x3C, 0x64};
        os_midi_feed(0, note_on, sizeof note_on);
    });
    source.join();
    EXPECT_NE(HIWORD(GetQueueStatus(QS_POSTMESSAGE)) & QS_POSTMESSAGE, 0u);
    EXPECT_EQ(os_poll_event(), 0); // an empty message, no request
    os_midi_note note;
    ASSERT_EQ(os_midi_take(&note), 1);
    EXPECT_EQ(note.key, 0x3C);
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
    EXPECT_EQ(os_midi_wake.load(), nullptr); // a MIDI note no longer posts to a loop that has ended
    EXPECT_EQ(os_dib_pixels(), nullptr);
}

} // namespace

// Win32 platform backend on the main thread: the performance counter and Sleep for the frame loop, the one window
// with its procedure, the frame bitmap (a top-down 32-bit DIB section in a memory device context) and the
// presentation of the changed rectangle, the save question, the title and the wait for window messages. Owns the
// window's device context and the frame bitmap.
#include "platform_win32.h"

#include "graph.h"
#include "os_tools.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static HWND win_window;             // the program's window; null before os_init_window and after release
static HDC win_dc;                  // the window's device context, held from creation until shut-down
static HDC win_mem_dc;              // memory device context holding the frame bitmap
static HBITMAP win_bitmap;          // the frame bitmap, a DIB section
static HGDIOBJ win_old_bitmap;      // what the memory context held before the frame bitmap
static uint32_t* win_pixels;        // the frame bitmap's pixels, top-down rows of win_dib_width
static int32_t win_dib_width;       // the frame bitmap's width in pixels
static int32_t win_dib_height;      // the frame bitmap's height in pixels
static g_display_info* win_display; // display record given to os_init_window
static int32_t win_close_asked;     // 1 from a WM_CLOSE until os_poll_event has passed the request on

static const char WIN_CLASS[] = "zindraClass";
static const char WIN_TITLE[] = "QuavloII";

HWND os_window() { return win_window; }
const uint32_t* os_dib_pixels() { return win_pixels; }

void os_debug_output(const char* line) { OutputDebugStringA(line); }

int64_t os_counter() {
    LARGE_INTEGER value;
    if (!QueryPerformanceCounter(&value)) return 0;
    return (int64_t)value.QuadPart;
}

int64_t os_counter_freq() {
    LARGE_INTEGER value;
    if (!QueryPerformanceFrequency(&value)) return 0;
    return (int64_t)value.QuadPart;
}

void os_sleep_1ms() { Sleep(1); }

int os_poll_event() {
    MSG message;
    memset(&message, 0, sizeof message);
    int end = 0;
    if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
        end = message.message == WM_QUIT;
    }
    // Closing the window (its close box, Alt+F4) asks the application, which may first ask about unsaved work.
    if (win_close_asked) {
        win_close_asked = 0;
        end = 1;
    }
    return end;
}

// MWMO_INPUTAVAILABLE: messages already waiting end the wait too, not only ones that arrive during it (the frame
// loop takes one message per tick, so a burst would otherwise be taken one per step).
void os_wait_event(int32_t timeout_ms) {
    MsgWaitForMultipleObjectsEx(0, nullptr, timeout_ms < 0 ? 0 : (DWORD)timeout_ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void os_set_title(const char* title) {
    if (win_window) SetWindowTextA(win_window, title ? title : "");
}

// ---- Window

// Start-up cannot go on without a window to present to: say so and stop, rather than draw into nothing.
[[noreturn]] static void win_fail(const char* what) {
    os_log("QuavloII: %s\n", what);
    MessageBoxA(nullptr, what, WIN_TITLE, MB_OK | MB_ICONERROR);
    exit(1);
}

int32_t os_init_window(g_display_info* display) {
    os_log("PLATFORM WIN32\n");
    win_display = display;
    OS_ASSERT(display != nullptr);
    const int32_t width = display ? display->window_width : G_WIDTH;
    const int32_t height = display ? display->window_height : G_HEIGHT;

    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    const int32_t x = (GetSystemMetrics(SM_CXSCREEN) - width) >> 1;
    const int32_t y = (GetSystemMetrics(SM_CYSCREEN) - height) >> 1;
    OS_ASSERT(os_alloc_count == 0);

    WNDCLASSA window_class;
    memset(&window_class, 0, sizeof window_class);
    window_class.lpfnWndProc = os_wnd_proc;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = WIN_CLASS;
    // A class left registered by an earlier window of this process serves again.
    if (!RegisterClassA(&window_class) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        win_fail("the window class could not be registered");

    win_window = CreateWindowExA(0, WIN_CLASS, WIN_TITLE, style, x, y, width, height, nullptr, nullptr,
                                 window_class.hInstance, nullptr);
    OS_ASSERT(win_window != nullptr);
    if (!win_window) win_fail("the window could not be created");

    // The window was made at the client size; growing it by the frame once more makes the client area the frame's.
    RECT client;
    GetClientRect(win_window, &client);
    const int32_t outer_w = 2 * width - (client.right - client.left);
    const int32_t outer_h = 2 * height - (client.bottom - client.top);
    SetWindowPos(win_window, nullptr, 0, 0, outer_w, outer_h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    win_dc = GetDC(win_window);
    os_create_dib(width, height);
    if (!win_pixels) win_fail("the window has no frame bitmap");
    ShowWindow(win_window, SW_SHOW);
    return 1;
}

void os_create_dib(int32_t width, int32_t height) {
    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // negative: row 0 is the top row
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = (DWORD)(width * height * 4);
    void* pixels = nullptr;
    win_bitmap = CreateDIBSection(win_dc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    OS_ASSERT(win_bitmap != nullptr);
    win_mem_dc = CreateCompatibleDC(win_dc);
    OS_ASSERT(win_mem_dc != nullptr);
    if (!win_bitmap || !win_mem_dc || !pixels) {
        OS_ASSERT(pixels != nullptr);
        os_destroy_dib();
        return;
    }
    win_old_bitmap = SelectObject(win_mem_dc, win_bitmap);
    win_pixels = (uint32_t*)pixels;
    win_dib_width = width;
    win_dib_height = height;
    memset(win_pixels, 0, (size_t)width * (size_t)height * 4);
}

void os_destroy_dib() {
    OS_ASSERT(win_pixels != nullptr && win_bitmap != nullptr && win_mem_dc != nullptr);
    if (win_mem_dc && win_old_bitmap) SelectObject(win_mem_dc, win_old_bitmap);
    if (win_mem_dc) DeleteDC(win_mem_dc);
    if (win_bitmap) DeleteObject(win_bitmap);
    win_mem_dc = nullptr;
    win_bitmap = nullptr;
    win_old_bitmap = nullptr;
    win_pixels = nullptr;
    win_dib_width = win_dib_height = 0;
}

// The window itself stays: it was destroyed by its close, or goes with the process.
void os_release_window() {
    if (win_window && win_dc) ReleaseDC(win_window, win_dc);
    win_dc = nullptr;
    win_window = nullptr;
    win_display = nullptr;
}

void os_present(int32_t width, int32_t height) {
    OS_ASSERT(win_display != nullptr);
    g_rect r = g_frame;
    if (r.min_x >= r.max_x || r.min_y >= r.max_y) return;
    OS_ASSERT(width == win_dib_width && height == win_dib_height);
    if (!win_pixels || !g_composite || win_dib_width != G_WIDTH || win_dib_height != G_HEIGHT) return;
    // The composite and the bitmap share one stride: each row's span is copied from and to the same offset.
    if (r.min_x < 0) r.min_x = 0;
    if (r.min_y < 0) r.min_y = 0;
    if (r.max_x > G_WIDTH) r.max_x = G_WIDTH;
    if (r.max_y > G_HEIGHT) r.max_y = G_HEIGHT;
    if (r.min_x >= r.max_x || r.min_y >= r.max_y) return;
    const size_t span = (size_t)(r.max_x - r.min_x) * 4;
    for (int32_t row = r.min_y; row < r.max_y; row++) {
        const size_t at = (size_t)row * G_WIDTH + (size_t)r.min_x;
        memcpy(win_pixels + at, g_composite + at, span);
    }
    if (win_dc)
        BitBlt(win_dc, r.min_x, r.min_y, r.max_x - r.min_x, r.max_y - r.min_y, win_mem_dc, r.min_x, r.min_y, SRCCOPY);
}

// ---- Window procedure

// The frame bitmap holds the whole picture presented so far: a repaint copies the asked-for area from it.
static void win_paint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (dc && win_mem_dc) {
        const RECT& r = paint.rcPaint;
        BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, win_mem_dc, r.left, r.top, SRCCOPY);
    }
    EndPaint(window, &paint);
}

LRESULT CALLBACK os_wnd_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CLOSE:
        win_close_asked = 1;
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_KEYDOWN:
        os_set_key(os_key_from_vk((int32_t)wparam), 1);
        return 0;
    case WM_KEYUP:
        os_set_key(os_key_from_vk((int32_t)wparam), 0);
        return 0;
    case WM_MOUSEMOVE:
        os_mouse_x = (int32_t)(lparam & 0xFFFF);
        os_mouse_y = (int32_t)((lparam >> 16) & 0xFFFF);
        return 0;
    case WM_LBUTTONDOWN:
        os_mouse_down = 1;
        return 0;
    case WM_LBUTTONUP:
        os_mouse_down = 0;
        return 0;
    case WM_PAINT:
        win_paint(window);
        return 0;
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

// ---- Message boxes

// The boxes belong to the window, so it takes no input while one is open.
void os_message_box(const char* text, const char* caption) {
    MessageBoxA(win_window, text ? text : "", caption ? caption : "", MB_OK);
}

int os_ask_save_changes(const char* text, const char* caption) {
    const int answer =
        MessageBoxA(win_window, text ? text : "", caption ? caption : "", MB_YESNOCANCEL | MB_DEFBUTTON1);
    if (answer == IDYES) return OS_ANSWER_SAVE;
    if (answer == IDNO) return OS_ANSWER_DISCARD;
    return OS_ANSWER_CANCEL;
}

// Win32 platform backend on the main thread: the performance counter and Sleep for the frame loop, the one window
// at its scale with its procedure, the frame bitmap (a top-down 32-bit DIB section in a memory device context) and
// the presentation of the changed rectangle, enlarged pixel for pixel, keys by their physical position, the save
// question, the title and the wait for window messages. Owns the window's device context and the frame bitmap.
#include "platform_win32.h"

#include "graph.h"
#include "os_midi.h"
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
static int32_t win_scale = 1;       // window pixels per frame pixel, chosen at creation and on a DPI change
static DWORD win_main_thread;       // the thread whose loop takes the window's messages; set before os_midi_wake

static const char WIN_CLASS[] = "zindraClass";
static const char WIN_TITLE[] = "QuavloII";

HWND os_window() { return win_window; }
const uint32_t* os_dib_pixels() { return win_pixels; }
int32_t os_window_scale_in_use() { return win_window ? win_scale : 0; }

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

int32_t os_scale_for_work_area(const RECT& work) {
    if (os_window_scale >= 1 && os_window_scale <= OS_MAX_SCALE) return os_window_scale;
    return os_fit_scale(work.right - work.left, work.bottom - work.top);
}

// The usable area (without the taskbar) of the monitor that holds most of place, or of the primary monitor.
static RECT win_work_area(const RECT* place) {
    const HMONITOR monitor = place ? MonitorFromRect(place, MONITOR_DEFAULTTONEAREST)
                                   : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    if (!GetMonitorInfoA(monitor, &info)) SystemParametersInfoA(SPI_GETWORKAREA, 0, &info.rcWork, 0);
    return info.rcWork;
}

// Sizes the window so that its client area is the frame at win_scale, its top-left corner at (x, y). The frame
// around the client area is measured rather than computed, so it is right at any DPI; a second pass catches a
// frame that changed with the size (a menu bar that wraps, a DPI that changed on the way).
static void win_fit_client(int32_t x, int32_t y, UINT flags) {
    const int32_t want_w = G_WIDTH * win_scale, want_h = G_HEIGHT * win_scale;
    for (int pass = 0; pass < 2; pass++) {
        RECT outer, client;
        GetWindowRect(win_window, &outer);
        GetClientRect(win_window, &client);
        const int32_t client_w = client.right - client.left, client_h = client.bottom - client.top;
        if (pass > 0 && client_w == want_w && client_h == want_h) return;
        SetWindowPos(win_window, nullptr, x, y, outer.right - outer.left + want_w - client_w,
                     outer.bottom - outer.top + want_h - client_h, flags | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// A MIDI note-on was queued (in winmm's callback, where posting a message is allowed): an empty thread message ends
// the loop's wait for the next message or step, so the note is taken now.
static void win_wake_loop() { PostThreadMessageA(win_main_thread, WM_NULL, 0, 0); }

int32_t os_init_window(g_display_info* display) {
    os_log("PLATFORM WIN32\n");
    win_display = display;
    OS_ASSERT(display != nullptr);
    const int32_t width = display ? display->window_width : G_WIDTH;
    const int32_t height = display ? display->window_height : G_HEIGHT;
    OS_ASSERT(os_alloc_count == 0);

    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA window_class;
    memset(&window_class, 0, sizeof window_class);
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = os_wnd_proc;
    window_class.hInstance = instance;
    window_class.lpszClassName = WIN_CLASS;
    window_class.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    // The program's icon (resource 1), at the sizes the title bar and the task switcher show.
    window_class.hIcon = (HICON)LoadImageA(instance, MAKEINTRESOURCEA(1), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                           GetSystemMetrics(SM_CYICON), 0);
    window_class.hIconSm = (HICON)LoadImageA(instance, MAKEINTRESOURCEA(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0);
    // A class left registered by an earlier window of this process serves again.
    if (!RegisterClassExA(&window_class) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        win_fail("the window class could not be registered");

    // The window's pixels are the screen's (the manifest declares per-monitor DPI awareness): the scale is chosen
    // from the work area in pixels, as on Linux, and the frame is enlarged by whole pixels, never blurred.
    const RECT work = win_work_area(nullptr);
    win_scale = os_scale_for_work_area(work);
    const int32_t client_w = width * win_scale, client_h = height * win_scale;
    const int32_t x = work.left + (work.right - work.left - client_w) / 2;
    const int32_t y = work.top + (work.bottom - work.top - client_h) / 2;
    // Not resizable and no maximise: the client area keeps the frame's size; it may be minimised.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    win_window = CreateWindowExA(0, WIN_CLASS, WIN_TITLE, style, x < work.left ? work.left : x,
                                 y < work.top ? work.top : y, client_w, client_h, nullptr, nullptr, instance, nullptr);
    OS_ASSERT(win_window != nullptr);
    if (!win_window) win_fail("the window could not be created");
    win_fit_client(0, 0, SWP_NOMOVE);

    win_dc = GetDC(win_window);
    os_create_dib(width, height);
    if (!win_pixels) win_fail("the window has no frame bitmap");
    os_log("WINDOW %dx%d SCALE %d\n", client_w, client_h, win_scale);
    ShowWindow(win_window, SW_SHOW);
    win_main_thread = GetCurrentThreadId();
    os_midi_wake.store(win_wake_loop, std::memory_order_release);
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
    os_midi_wake.store(nullptr, std::memory_order_release);
    if (win_window && win_dc) ReleaseDC(win_window, win_dc);
    win_dc = nullptr;
    win_window = nullptr;
    win_display = nullptr;
}

// Copies a rectangle of the frame bitmap to the window, each frame pixel a win_scale square (COLORONCOLOR drops
// rows and columns without mixing colours: at whole-number enlargements, pure pixel repetition).
static void win_blit(HDC dc, int32_t x, int32_t y, int32_t w, int32_t h) {
    if (!win_mem_dc) return;
    if (win_scale == 1) {
        BitBlt(dc, x, y, w, h, win_mem_dc, x, y, SRCCOPY);
        return;
    }
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchBlt(dc, x * win_scale, y * win_scale, w * win_scale, h * win_scale, win_mem_dc, x, y, w, h, SRCCOPY);
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
    if (win_dc) win_blit(win_dc, r.min_x, r.min_y, r.max_x - r.min_x, r.max_y - r.min_y);
}

// ---- Window procedure

// The frame bitmap holds the whole picture presented so far: a repaint copies the frame pixels under the asked-for
// area from it.
static void win_paint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (dc && win_mem_dc) {
        const RECT& r = paint.rcPaint;
        const int32_t x0 = r.left / win_scale, y0 = r.top / win_scale;
        const int32_t x1 = (r.right + win_scale - 1) / win_scale, y1 = (r.bottom + win_scale - 1) / win_scale;
        win_blit(dc, x0, y0, x1 - x0, y1 - y0);
    }
    EndPaint(window, &paint);
}

// A pointer position in window pixels as a frame pixel, carried as the unsigned 16-bit value of the message.
static int32_t win_frame_position(LPARAM lparam, int shift, int32_t frame_size) {
    const int32_t window = (int32_t)((lparam >> shift) & 0xFFFF);
    const int32_t size = frame_size * win_scale;
    return os_window_to_frame(window, size, size, 0, win_scale) & 0xFFFF;
}

// Moved to a monitor of another DPI: the scale is chosen again for that monitor's work area (unless --scale fixed
// it), and the window keeps the place the system proposes, at the new size.
static void win_dpi_changed(const RECT* proposed) {
    win_scale = os_scale_for_work_area(win_work_area(proposed));
    win_fit_client(proposed->left, proposed->top, 0);
    InvalidateRect(win_window, nullptr, FALSE);
    os_log("WINDOW SCALE %d\n", win_scale);
}

// The system keeps a window within the screen's size unless told otherwise; a scale asked for on the command line
// may need more (the picture is then larger than the screen, as on Linux).
static void win_allow_size(HWND window, MINMAXINFO* limits) {
    RECT outer = {0, 0, G_WIDTH * win_scale, G_HEIGHT * win_scale};
    AdjustWindowRectEx(&outer, (DWORD)GetWindowLongA(window, GWL_STYLE), FALSE,
                       (DWORD)GetWindowLongA(window, GWL_EXSTYLE));
    // Room to spare for frames that grow at a higher DPI.
    const LONG width = outer.right - outer.left + 64, height = outer.bottom - outer.top + 64;
    if (limits->ptMaxTrackSize.x < width) limits->ptMaxTrackSize.x = width;
    if (limits->ptMaxTrackSize.y < height) limits->ptMaxTrackSize.y = height;
}

int32_t os_vk_from_scan_code(int32_t scan_code) {
    // Set-1 scan codes of the typing block, as the virtual-key codes a US keyboard gives them.
    static constexpr struct {
        uint8_t scan, vk;
    } typing[] = {
        {0x02, '1'}, {0x03, '2'}, {0x04, '3'}, {0x05, '4'}, {0x06, '5'}, {0x07, '6'}, {0x08, '7'}, {0x09, '8'},
        {0x0A, '9'}, {0x0B, '0'}, {0x0C, 189}, {0x0D, 187}, {0x10, 'Q'}, {0x11, 'W'}, {0x12, 'E'}, {0x13, 'R'},
        {0x14, 'T'}, {0x15, 'Y'}, {0x16, 'U'}, {0x17, 'I'}, {0x18, 'O'}, {0x19, 'P'}, {0x1A, 219}, {0x1B, 221},
        {0x1E, 'A'}, {0x1F, 'S'}, {0x20, 'D'}, {0x21, 'F'}, {0x22, 'G'}, {0x23, 'H'}, {0x24, 'J'}, {0x25, 'K'},
        {0x26, 'L'}, {0x27, 186}, {0x28, 222}, {0x29, 192}, {0x2B, 220}, {0x2C, 'Z'}, {0x2D, 'X'}, {0x2E, 'C'},
        {0x2F, 'V'}, {0x30, 'B'}, {0x31, 'N'}, {0x32, 'M'}, {0x33, 188}, {0x34, 190}, {0x35, 191}, {0x56, 226},
    };
    for (const auto& key : typing)
        if (key.scan == scan_code) return key.vk;
    return 0;
}

int32_t os_vk_of_key_message(WPARAM wparam, LPARAM lparam) {
    // Letters, digits and punctuation by where the key sits, so the piano and the hex digits stay in place on
    // AZERTY, QWERTZ or Dvorak as on Linux; everything else (arrows, function keys, Enter, the keypad) by its
    // meaning. Extended keys share scan codes with the keypad, and a message without a scan code (sent by a
    // program) is taken by its virtual-key code.
    const int32_t scan_code = (int32_t)((lparam >> 16) & 0xFF);
    const bool extended = (lparam >> 24) & 1;
    const int32_t vk = extended ? 0 : os_vk_from_scan_code(scan_code);
    return vk ? vk : (int32_t)wparam;
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
        os_set_key(os_key_from_vk(os_vk_of_key_message(wparam, lparam)), 1);
        return 0;
    case WM_KEYUP:
        os_set_key(os_key_from_vk(os_vk_of_key_message(wparam, lparam)), 0);
        return 0;
    case WM_KILLFOCUS:
        // The releases of keys held now go to another window: without this they would stay down (and repeat).
        os_clear_keys();
        os_mouse_down = 0;
        return 0;
    case WM_MOUSEMOVE:
        os_mouse_x = win_frame_position(lparam, 0, G_WIDTH);
        os_mouse_y = win_frame_position(lparam, 16, G_HEIGHT);
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
    case WM_GETMINMAXINFO:
        win_allow_size(window, (MINMAXINFO*)lparam);
        return 0;
    case WM_DPICHANGED:
        if (window == win_window) win_dpi_changed((const RECT*)lparam);
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

// SDL2 platform backend on the main thread: clock and sleep for the frame loop, the one window, its surface
// standing for the frame bitmap, presentation of the changed rectangle, translation of keyboard, mouse and
// window events into the polled input state, and the message box. Owns the window and its surface.
#include "platform_sdl.h"

#include "graph.h"
#include "os_platform.h"
#include "os_tools.h"

#include <SDL.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static SDL_Window* sdl_window;      // the program's window; null before os_init_window and after release
static SDL_Surface* sdl_surface;    // the window surface in use as the frame bitmap; null when none
static int32_t sdl_surface_stale;   // 1 when SDL has dropped the window surface (size change)
static g_display_info* sdl_display; // display record given to os_init_window

constexpr int32_t VK_F10 = VK_F1 + 9;

SDL_Window* os_window() { return sdl_window; }

int64_t os_counter() { return (int64_t)SDL_GetPerformanceCounter(); }
int64_t os_counter_freq() { return (int64_t)SDL_GetPerformanceFrequency(); }
void os_sleep_1ms() { SDL_Delay(1); }

int os_poll_event() {
    SDL_Event event;
    if (!SDL_PollEvent(&event)) return 0;
    return os_handle_event(&event);
}

// ---- Keyboard

int32_t os_vk_from_scancode(int32_t scancode) {
    if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z) return 'A' + (scancode - SDL_SCANCODE_A);
    if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9) return '1' + (scancode - SDL_SCANCODE_1);
    if (scancode >= SDL_SCANCODE_F1 && scancode <= SDL_SCANCODE_F12) return VK_F1 + (scancode - SDL_SCANCODE_F1);
    // The keypad is read as with Num Lock on: digits are VK_NUMPAD0..9 whatever the lock's state.
    if (scancode >= SDL_SCANCODE_KP_1 && scancode <= SDL_SCANCODE_KP_9)
        return VK_NUMPAD0 + 1 + (scancode - SDL_SCANCODE_KP_1);
    switch (scancode) {
    case SDL_SCANCODE_0:
        return '0';
    case SDL_SCANCODE_RETURN:
    case SDL_SCANCODE_KP_ENTER:
        return VK_RETURN;
    case SDL_SCANCODE_ESCAPE:
        return VK_ESCAPE;
    case SDL_SCANCODE_BACKSPACE:
        return VK_BACK;
    case SDL_SCANCODE_TAB:
        return VK_TAB;
    case SDL_SCANCODE_SPACE:
        return VK_SPACE;
    case SDL_SCANCODE_LEFT:
        return VK_LEFT;
    case SDL_SCANCODE_UP:
        return VK_UP;
    case SDL_SCANCODE_RIGHT:
        return VK_RIGHT;
    case SDL_SCANCODE_DOWN:
        return VK_DOWN;
    case SDL_SCANCODE_DELETE:
        return VK_DELETE;
    case SDL_SCANCODE_INSERT:
        return 45;
    case SDL_SCANCODE_HOME:
        return 36;
    case SDL_SCANCODE_END:
        return 35;
    case SDL_SCANCODE_PAGEUP:
        return 33;
    case SDL_SCANCODE_PAGEDOWN:
        return 34;
    case SDL_SCANCODE_LSHIFT:
    case SDL_SCANCODE_RSHIFT:
        return VK_SHIFT;
    case SDL_SCANCODE_LCTRL:
    case SDL_SCANCODE_RCTRL:
        return VK_CONTROL;
    case SDL_SCANCODE_CAPSLOCK:
        return 20;
    case SDL_SCANCODE_PAUSE:
        return 19;
    case SDL_SCANCODE_NUMLOCKCLEAR:
        return 144;
    case SDL_SCANCODE_SCROLLLOCK:
        return 145;
    case SDL_SCANCODE_LGUI:
        return 91;
    case SDL_SCANCODE_RGUI:
        return 92;
    case SDL_SCANCODE_APPLICATION:
        return 93;
    case SDL_SCANCODE_KP_0:
        return VK_NUMPAD0;
    case SDL_SCANCODE_KP_MULTIPLY:
        return 106;
    case SDL_SCANCODE_KP_PLUS:
        return 107;
    case SDL_SCANCODE_KP_MINUS:
        return 109;
    case SDL_SCANCODE_KP_PERIOD:
        return 110;
    case SDL_SCANCODE_KP_DIVIDE:
        return 111;
    // Punctuation as the VK_OEM codes of a US keyboard.
    case SDL_SCANCODE_SEMICOLON:
        return 186;
    case SDL_SCANCODE_EQUALS:
        return 187;
    case SDL_SCANCODE_COMMA:
        return 188;
    case SDL_SCANCODE_MINUS:
        return 189;
    case SDL_SCANCODE_PERIOD:
        return 190;
    case SDL_SCANCODE_SLASH:
        return 191;
    case SDL_SCANCODE_GRAVE:
        return 192;
    case SDL_SCANCODE_LEFTBRACKET:
        return 219;
    case SDL_SCANCODE_BACKSLASH:
    case SDL_SCANCODE_NONUSHASH:
        return 220;
    case SDL_SCANCODE_RIGHTBRACKET:
        return 221;
    case SDL_SCANCODE_APOSTROPHE:
        return 222;
    case SDL_SCANCODE_NONUSBACKSLASH:
        return 226;
    default:
        // Alt, Print Screen and the rest belong to the system or have no code here.
        return 0;
    }
}

int32_t os_key_event(int32_t scancode, int32_t alt_held, int32_t down, int32_t repeat) {
    const int32_t vk = os_vk_from_scancode(scancode);
    if (vk == 0 || vk == VK_F10) return -1;
    if (down && (repeat || alt_held)) return -1;
    // A release always counts, even with Alt held: a key pressed before Alt must not stay down.
    return os_set_key(os_key_from_vk(vk), down ? 1 : 0);
}

void os_release_keys() {
    for (int32_t i = 0; i < 256; i++) {
        if (os_keys[i]) os_set_key(i, 0);
    }
}

// ---- Window surface and presentation

// The rectangle cut to both the frame and the surface.
static g_rect sdl_clip_to(g_rect r, const SDL_Surface* surface) {
    if (r.min_x < 0) r.min_x = 0;
    if (r.min_y < 0) r.min_y = 0;
    if (r.max_x > G_WIDTH) r.max_x = G_WIDTH;
    if (r.max_y > G_HEIGHT) r.max_y = G_HEIGHT;
    if (r.max_x > surface->w) r.max_x = surface->w;
    if (r.max_y > surface->h) r.max_y = surface->h;
    return r;
}

int os_copy_frame_rect(SDL_Surface* dst, const uint32_t* src, g_rect r) {
    if (!dst || !src || !dst->pixels) return 0;
    r = sdl_clip_to(r, dst);
    if (r.min_x >= r.max_x || r.min_y >= r.max_y) return 0;

    if (SDL_MUSTLOCK(dst) && SDL_LockSurface(dst) != 0) return 0;
    const int32_t width = r.max_x - r.min_x;
    const int32_t height = r.max_y - r.min_y;
    const uint32_t format = dst->format->format;
    const int32_t bytes = dst->format->BytesPerPixel;
    uint8_t* out = (uint8_t*)dst->pixels + (size_t)r.min_y * (size_t)dst->pitch + (size_t)r.min_x * (size_t)bytes;
    const uint32_t* in = src + (size_t)r.min_y * G_WIDTH + r.min_x;
    int copied = 1;
    if (format == SDL_PIXELFORMAT_RGB888 || format == SDL_PIXELFORMAT_ARGB8888) {
        for (int32_t y = 0; y < height; y++)
            memcpy(out + (size_t)y * (size_t)dst->pitch, in + (size_t)y * G_WIDTH, (size_t)width * 4);
    } else {
        const int converted =
            SDL_ConvertPixels(width, height, SDL_PIXELFORMAT_ARGB8888, in, G_WIDTH * 4, format, out, dst->pitch);
        OS_ASSERT(converted == 0);
        copied = converted == 0;
    }
    if (SDL_MUSTLOCK(dst)) SDL_UnlockSurface(dst);
    return copied;
}

// Every layer is marked fully dirty, so the next flip composes the whole frame again.
static void sdl_redraw_all_layers() {
    for (g_rect& dirty : g_dirty) dirty = g_rect{0, 0, G_WIDTH, G_HEIGHT};
}

// The window surface, taken again when SDL has dropped the old one. *fresh becomes 1 when the surface is new and
// so holds none of the picture.
static SDL_Surface* sdl_acquire_surface(int* fresh) {
    *fresh = 0;
    if (!sdl_window) return nullptr;
    SDL_Surface* surface = SDL_GetWindowSurface(sdl_window);
    if (!surface) {
        sdl_surface = nullptr;
        return nullptr;
    }
    if (surface != sdl_surface || sdl_surface_stale) {
        *fresh = 1;
        sdl_surface = surface;
        sdl_surface_stale = 0;
    }
    return surface;
}

// Puts the whole composed frame into a new surface and has the next flip recompose every layer: the composite
// holds only the bottom layer outside the last frame rectangle.
static void sdl_repaint_fresh(SDL_Surface* surface) {
    SDL_FillRect(surface, nullptr, 0);
    if (g_composite) os_copy_frame_rect(surface, g_composite, g_rect{0, 0, G_WIDTH, G_HEIGHT});
    SDL_UpdateWindowSurface(sdl_window);
    sdl_redraw_all_layers();
}

// The window needs its picture again (exposure): the surface still holds it unless SDL replaced it.
static void sdl_refresh_window() {
    int fresh = 0;
    SDL_Surface* surface = sdl_acquire_surface(&fresh);
    if (!surface) return;
    if (fresh)
        sdl_repaint_fresh(surface);
    else
        SDL_UpdateWindowSurface(sdl_window);
}

[[noreturn]] static void sdl_fail(const char* what) {
    fprintf(stderr, "QuavloII: %s: %s\n", what, SDL_GetError());
    if (sdl_window) SDL_DestroyWindow(sdl_window);
    sdl_window = nullptr;
    sdl_surface = nullptr;
    SDL_Quit();
    exit(1);
}

int32_t os_init_window(g_display_info* display) {
    os_log("PLATFORM SDL2\n");
    OS_ASSERT(display != nullptr);
    sdl_display = display;
    OS_ASSERT(os_alloc_count == 0);
    const int32_t width = display ? display->window_width : G_WIDTH;
    const int32_t height = display ? display->window_height : G_HEIGHT;

    // Behave like an ordinary desktop program: the screen saver may run and the compositor stays on.
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    // No events are taken while a file dialog is open; the window manager must not call the window hung then.
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_PING, "0");
    // The frame is composed in memory already: a plain shared-memory window surface presents it, where the
    // accelerated one would push every update through a (often software) OpenGL context at several times the cost.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) sdl_fail("the video system could not start");
    // Not resizable, so the window manager offers no maximise and the client area stays the frame's size.
    sdl_window =
        SDL_CreateWindow("QuavloII", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height, SDL_WINDOW_SHOWN);
    if (!sdl_window) sdl_fail("the window could not be created");
    int client_w = 0, client_h = 0;
    SDL_GetWindowSize(sdl_window, &client_w, &client_h);
    OS_ASSERT(client_w == width && client_h == height);
    // Keys are read as keys; no text input or input method is wanted.
    SDL_StopTextInput();

    os_create_dib(width, height);
    if (!sdl_surface) sdl_fail("the window has no drawing surface");
    return 1;
}

void os_create_dib(int32_t width, int32_t height) {
    OS_ASSERT(sdl_window != nullptr);
    if (!sdl_window) return;
    sdl_surface = SDL_GetWindowSurface(sdl_window);
    sdl_surface_stale = 0;
    OS_ASSERT(sdl_surface != nullptr);
    if (!sdl_surface) return;
    OS_ASSERT(sdl_surface->w >= width && sdl_surface->h >= height);
    SDL_FillRect(sdl_surface, nullptr, 0);
    SDL_UpdateWindowSurface(sdl_window);
}

// The surface belongs to the window; SDL frees it with the window.
void os_destroy_dib() { sdl_surface = nullptr; }

void os_release_window() {
    sdl_surface = nullptr;
    sdl_display = nullptr;
    if (sdl_window) SDL_DestroyWindow(sdl_window);
    sdl_window = nullptr;
    if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

void os_present(int32_t width, int32_t height) {
    OS_ASSERT(sdl_display != nullptr);
    g_rect r = g_frame;
    if (r.min_x >= r.max_x || r.min_y >= r.max_y) return;
    OS_ASSERT(width == G_WIDTH && height == G_HEIGHT);
    if (!sdl_window || !g_composite) return;
    int fresh = 0;
    SDL_Surface* surface = sdl_acquire_surface(&fresh);
    if (!surface) return;
    if (fresh) {
        sdl_repaint_fresh(surface);
        return;
    }
    r = sdl_clip_to(r, surface);
    if (!os_copy_frame_rect(surface, g_composite, r)) return;
    const SDL_Rect rect = {r.min_x, r.min_y, r.max_x - r.min_x, r.max_y - r.min_y};
    if (SDL_UpdateWindowSurfaceRects(sdl_window, &rect, 1) != 0) {
        // SDL refuses a surface it has dropped since it was taken: take the new one and show the whole frame.
        sdl_surface_stale = 1;
        surface = sdl_acquire_surface(&fresh);
        if (surface) sdl_repaint_fresh(surface);
    }
}

// ---- Events

int os_handle_event(const SDL_Event* event) {
    switch (event->type) {
    case SDL_QUIT:
        return 1;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        os_key_event(event->key.keysym.scancode, (event->key.keysym.mod & KMOD_ALT) != 0, event->type == SDL_KEYDOWN,
                     event->key.repeat != 0);
        return 0;
    case SDL_MOUSEMOTION:
        // Positions arrive as the 16-bit unsigned values of the original window messages.
        os_mouse_x = event->motion.x & 0xFFFF;
        os_mouse_y = event->motion.y & 0xFFFF;
        return 0;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        if (event->button.button == SDL_BUTTON_LEFT) os_mouse_down = event->type == SDL_MOUSEBUTTONDOWN;
        return 0;
    case SDL_WINDOWEVENT:
        switch (event->window.event) {
        case SDL_WINDOWEVENT_FOCUS_LOST:
            os_release_keys();
            break;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            sdl_surface_stale = 1;
            sdl_refresh_window();
            break;
        case SDL_WINDOWEVENT_EXPOSED:
            sdl_refresh_window();
            break;
        default:
            break;
        }
        return 0;
    default:
        return 0;
    }
}

// ---- Message box

void os_message_box(const char* text, const char* caption) {
    if (!text) text = "";
    if (!caption) caption = "";
    if (SDL_ShowSimpleMessageBox(0, caption, text, sdl_window) != 0) {
        // Without a window system the message still has to reach the user.
        fprintf(stderr, "QuavloII: %s: %s\n", caption, text);
    }
}

// SDL2 platform backend on the main thread: clock and sleep for the frame loop, the one window at its scale, its
// surface (or a renderer and texture) standing for the frame bitmap, presentation of the changed rectangle, the
// picture kept while a modal box is open, translation of keyboard, mouse and window events into the polled input
// state, the message box, the save question and the window title. Owns the window, its surface, renderer and
// texture.
#include "platform_sdl.h"

#include "dialogs_sdl.h"
#include "graph.h"
#include "os_midi.h"
#include "os_platform.h"
#include "os_tools.h"

#include <SDL.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Where the frame lies in the window. Window and output sizes differ on a high-density display (window units
// against pixels); x, y and factor place the frame's top-left corner and enlargement in output pixels.
struct sdl_view_info {
    int32_t window_w, window_h; // window size in window units, as mouse positions are given
    int32_t output_w, output_h; // size of what is drawn into, in pixels
    int32_t x, y;               // top-left corner of the frame in the output
    int32_t factor;             // output pixels per frame pixel
};

static SDL_Window* sdl_window;      // the program's window; null before os_init_window and after release
static SDL_Surface* sdl_surface;    // surface path: the window surface standing for the frame bitmap; else null
static int32_t sdl_surface_stale;   // surface path: 1 when SDL has dropped the window surface (size change)
static SDL_Renderer* sdl_renderer;  // renderer path: the window's renderer; null on the surface path
static SDL_Texture* sdl_texture;    // renderer path: the frame as last presented, 900 x 520
static g_display_info* sdl_display; // display record given to os_init_window
static int32_t sdl_scale = 1;       // window units per frame pixel, chosen when the window is created
static sdl_view_info sdl_view;      // the frame's place in the window, for presentation and the mouse
static uint32_t sdl_wide_row[G_WIDTH * OS_MAX_SCALE]; // one enlarged frame row awaiting pixel-format conversion
static uint8_t sdl_pressed_vk[SDL_NUM_SCANCODES];     // per scancode, the virtual-key code its held press was given
static SDL_Event sdl_waited_event;                    // the event os_wait_event took, kept for os_poll_event
static int32_t sdl_has_waited_event;                  // 1 while sdl_waited_event is still to be handled
static uint32_t sdl_last_read;                        // SDL_GetTicks() when events were last read from the display
static uint32_t sdl_wake_type;                        // the event type that wakes the loop for a MIDI note, 0: none

constexpr int32_t VK_F10 = VK_F1 + 9;
constexpr uint32_t SDL_READ_EVERY_MS = 25; // a step: events are read at least this often while no wait reads them

SDL_Window* os_window() { return sdl_window; }

int64_t os_counter() { return (int64_t)SDL_GetPerformanceCounter(); }
int64_t os_counter_freq() { return (int64_t)SDL_GetPerformanceFrequency(); }
void os_sleep_1ms() { SDL_Delay(1); }

int os_poll_event() {
    // A termination signal wins over any pending event: the program ends without asking.
    if (os_signal_received()) return OS_EVENT_END;
    if (sdl_has_waited_event) {
        sdl_has_waited_event = 0;
        return os_handle_event(&sdl_waited_event);
    }
    // The wait between steps reads the display connection; here it is read only when no wait has for a whole step
    // (the loop is busy), so an idle loop asks the display server once per step rather than twice or three times.
    const uint32_t now = SDL_GetTicks();
    if (now - sdl_last_read >= SDL_READ_EVERY_MS) {
        SDL_PumpEvents();
        sdl_last_read = now;
    }
    SDL_Event event;
    if (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) != 1) return 0;
    return os_handle_event(&event);
}

// Sleeps in the display connection until an event arrives or the time is up. SDL hands the event over as it
// wakes, so it is kept, and the next os_poll_event handles it in its turn.
void os_wait_event(int32_t timeout_ms) {
    if (sdl_has_waited_event || os_signal_received()) return;
    sdl_has_waited_event = SDL_WaitEventTimeout(&sdl_waited_event, timeout_ms < 1 ? 1 : timeout_ms) ? 1 : 0;
    sdl_last_read = SDL_GetTicks();
}

// ---- Keyboard

int32_t os_vk_from_scancode(int32_t scancode) {
    if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z) return 'A' + (scancode - SDL_SCANCODE_A);
    if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9) return '1' + (scancode - SDL_SCANCODE_1);
    if (scancode >= SDL_SCANCODE_F1 && scancode <= SDL_SCANCODE_F12) return VK_F1 + (scancode - SDL_SCANCODE_F1);
    // Keypad digits as with Num Lock on; os_key_event reads them as navigation keys while it is off.
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

int32_t os_key_event(int32_t scancode, int32_t alt_held, int32_t down, int32_t repeat, int32_t num_lock) {
    int32_t vk = os_keypad_vk(os_vk_from_scancode(scancode), num_lock);
    if (vk == 0 || vk == VK_F10) return -1;
    if (down && (repeat || alt_held)) return -1;
    // A key is released under the code it was pressed with, even when Num Lock changed while it was down.
    if (scancode > 0 && scancode < SDL_NUM_SCANCODES) {
        uint8_t& pressed = sdl_pressed_vk[scancode];
        if (down) {
            pressed = (uint8_t)vk;
        } else {
            if (pressed) vk = pressed;
            pressed = 0;
        }
    }
    // A release always counts, even with Alt held: a key pressed before Alt must not stay down.
    return os_set_key(os_key_from_vk(vk), down ? 1 : 0);
}

void os_release_keys() {
    os_clear_keys();
    memset(sdl_pressed_vk, 0, sizeof sdl_pressed_vk);
}

// ---- Window surface and presentation
//
// Two ways to the screen. The surface path copies the changed rectangle, enlarged by the window scale, into the
// window surface: shared memory on X11, the cheapest there is. Drivers without a window surface (Wayland,
// KMSDRM), or a user who asks for acceleration, get the renderer path: the rectangle goes into a streaming
// texture that keeps the whole last frame, and the renderer draws it enlarged with nearest-neighbour sampling.

// The rectangle cut to the frame and to the part of a width x height target that scale-times pixels cover.
static g_rect sdl_clip_to(g_rect r, int32_t width, int32_t height, int32_t scale) {
    if (r.min_x < 0) r.min_x = 0;
    if (r.min_y < 0) r.min_y = 0;
    if (r.max_x > G_WIDTH) r.max_x = G_WIDTH;
    if (r.max_y > G_HEIGHT) r.max_y = G_HEIGHT;
    if (r.max_x > width / scale) r.max_x = width / scale;
    if (r.max_y > height / scale) r.max_y = height / scale;
    return r;
}

int os_copy_frame_scaled(SDL_Surface* dst, const uint32_t* src, g_rect r, int32_t scale) {
    if (!dst || !src || !dst->pixels || scale < 1 || scale > OS_MAX_SCALE) return 0;
    r = sdl_clip_to(r, dst->w, dst->h, scale);
    if (r.min_x >= r.max_x || r.min_y >= r.max_y) return 0;

    if (SDL_MUSTLOCK(dst) && SDL_LockSurface(dst) != 0) return 0;
    const int32_t width = r.max_x - r.min_x;
    const int32_t height = r.max_y - r.min_y;
    const uint32_t format = dst->format->format;
    const int32_t bytes = dst->format->BytesPerPixel;
    const size_t pitch = (size_t)dst->pitch;
    const size_t out_row_bytes = (size_t)width * (size_t)scale * (size_t)bytes;
    uint8_t* out = (uint8_t*)dst->pixels + (size_t)(r.min_y * scale) * pitch + (size_t)(r.min_x * scale) * bytes;
    const uint32_t* in = src + (size_t)r.min_y * G_WIDTH + r.min_x;
    const bool xrgb = format == SDL_PIXELFORMAT_RGB888 || format == SDL_PIXELFORMAT_ARGB8888;
    int copied = 1;
    if (scale == 1 && xrgb) {
        for (int32_t y = 0; y < height; y++) memcpy(out + (size_t)y * pitch, in + (size_t)y * G_WIDTH, out_row_bytes);
    } else if (scale == 1) {
        const int converted =
            SDL_ConvertPixels(width, height, SDL_PIXELFORMAT_ARGB8888, in, G_WIDTH * 4, format, out, dst->pitch);
        OS_ASSERT(converted == 0);
        copied = converted == 0;
    } else {
        // Each frame row is widened once (straight into the surface when it is 32-bit XRGB, else into a row
        // buffer that is then converted), and the finished surface row is repeated scale - 1 times below.
        for (int32_t y = 0; y < height && copied; y++) {
            const uint32_t* row = in + (size_t)y * G_WIDTH;
            uint8_t* first = out + (size_t)(y * scale) * pitch;
            uint32_t* target = xrgb ? (uint32_t*)first : sdl_wide_row;
            for (int32_t x = 0; x < width; x++)
                for (int32_t k = 0; k < scale; k++) target[x * scale + k] = row[x];
            if (!xrgb) {
                const int converted = SDL_ConvertPixels(width * scale, 1, SDL_PIXELFORMAT_ARGB8888, sdl_wide_row,
                                                        G_WIDTH * OS_MAX_SCALE * 4, format, first, dst->pitch);
                OS_ASSERT(converted == 0);
                copied = converted == 0;
            }
            for (int32_t k = 1; k < scale && copied; k++) memcpy(first + (size_t)k * pitch, first, out_row_bytes);
        }
    }
    if (SDL_MUSTLOCK(dst)) SDL_UnlockSurface(dst);
    return copied;
}

int os_copy_frame_rect(SDL_Surface* dst, const uint32_t* src, g_rect r) { return os_copy_frame_scaled(dst, src, r, 1); }

// Every layer is marked fully dirty, so the next flip composes the whole frame again.
static void sdl_redraw_all_layers() {
    for (g_rect& dirty : g_dirty) dirty = g_rect{0, 0, G_WIDTH, G_HEIGHT};
}

// Measures the window and its output, and places the frame in the output: on the surface path at the top left,
// enlarged by the window scale; on the renderer path as large as whole multiples allow, centred (the output is
// larger than the window on a high-density display, and is the whole screen under KMSDRM).
static void sdl_measure_view() {
    sdl_view = sdl_view_info{};
    if (!sdl_window) return;
    SDL_GetWindowSize(sdl_window, &sdl_view.window_w, &sdl_view.window_h);
    sdl_view.output_w = sdl_view.window_w;
    sdl_view.output_h = sdl_view.window_h;
    sdl_view.factor = sdl_scale;
    if (!sdl_renderer) return;
    if (SDL_GetRendererOutputSize(sdl_renderer, &sdl_view.output_w, &sdl_view.output_h) != 0) {
        sdl_view.output_w = sdl_view.window_w;
        sdl_view.output_h = sdl_view.window_h;
    }
    const int32_t fx = sdl_view.output_w / G_WIDTH, fy = sdl_view.output_h / G_HEIGHT;
    sdl_view.factor = fx < fy ? fx : fy;
    if (sdl_view.factor < 1) sdl_view.factor = 1;
    if (sdl_view.factor > OS_MAX_SCALE * 4) sdl_view.factor = OS_MAX_SCALE * 4;
    sdl_view.x = (sdl_view.output_w - G_WIDTH * sdl_view.factor) / 2;
    sdl_view.y = (sdl_view.output_h - G_HEIGHT * sdl_view.factor) / 2;
}

// Renderer path: draws the whole last frame, black around it, and shows it.
static void sdl_render_frame() {
    if (!sdl_renderer || !sdl_texture) return;
    SDL_SetRenderDrawColor(sdl_renderer, 0, 0, 0, 255);
    SDL_RenderClear(sdl_renderer);
    const SDL_Rect place = {sdl_view.x, sdl_view.y, G_WIDTH * sdl_view.factor, G_HEIGHT * sdl_view.factor};
    SDL_RenderCopy(sdl_renderer, sdl_texture, nullptr, &place);
    SDL_RenderPresent(sdl_renderer);
}

// Renderer path: the streaming texture for the frame; every layer is redrawn into it at the next flip.
static int sdl_create_texture() {
    if (sdl_texture) SDL_DestroyTexture(sdl_texture);
    sdl_texture =
        SDL_CreateTexture(sdl_renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, G_WIDTH, G_HEIGHT);
    if (!sdl_texture) return 0;
    SDL_SetTextureBlendMode(sdl_texture, SDL_BLENDMODE_NONE);
    SDL_SetTextureScaleMode(sdl_texture, SDL_ScaleModeNearest);
    void* pixels = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(sdl_texture, nullptr, &pixels, &pitch) == 0) {
        for (int32_t y = 0; y < G_HEIGHT; y++) memset((uint8_t*)pixels + (size_t)y * (size_t)pitch, 0, G_WIDTH * 4);
        SDL_UnlockTexture(sdl_texture);
    }
    sdl_redraw_all_layers();
    return 1;
}

// The renderer path is asked for through SDL's own switch for accelerated window pictures
// (SDL_FRAMEBUFFER_ACCELERATION): "1" or "true", or the name of a render driver to use.
static const char* sdl_renderer_request() {
    const char* hint = SDL_GetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION);
    if (!hint || !hint[0] || strcmp(hint, "0") == 0 || SDL_strcasecmp(hint, "false") == 0 ||
        SDL_strcasecmp(hint, "software") == 0)
        return nullptr;
    return hint;
}

static int sdl_open_renderer() {
    const char* request = sdl_renderer_request();
    if (request && strcmp(request, "1") != 0 && SDL_strcasecmp(request, "true") != 0)
        SDL_SetHint(SDL_HINT_RENDER_DRIVER, request);
    sdl_renderer = SDL_CreateRenderer(sdl_window, -1, 0);
    if (!sdl_renderer) return 0;
    if (!sdl_create_texture()) {
        SDL_DestroyRenderer(sdl_renderer);
        sdl_renderer = nullptr;
        return 0;
    }
    return 1;
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

// Puts the whole composed frame into a new surface and has the next flip recompose every layer.
static void sdl_repaint_fresh(SDL_Surface* surface) {
    SDL_FillRect(surface, nullptr, 0);
    if (g_composite) os_copy_frame_scaled(surface, g_composite, g_rect{0, 0, G_WIDTH, G_HEIGHT}, sdl_scale);
    SDL_UpdateWindowSurface(sdl_window);
    sdl_redraw_all_layers();
}

// The window needs its whole picture again (exposure, a modal box about to open): the window surface or the
// texture still holds it, unless SDL replaced the surface.
static void sdl_refresh_window() {
    if (sdl_renderer) {
        sdl_render_frame();
        return;
    }
    int fresh = 0;
    SDL_Surface* surface = sdl_acquire_surface(&fresh);
    if (!surface) return;
    if (fresh)
        sdl_repaint_fresh(surface);
    else
        SDL_UpdateWindowSurface(sdl_window);
}

// Takes the window's own pending events (exposure, size, focus, renderer resets) and leaves keys, mouse and the
// quit request queued for the frame loop.
static void sdl_handle_window_events() {
    if (!sdl_window) return;
    SDL_PumpEvents();
    SDL_Event event;
    while (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_WINDOWEVENT, SDL_WINDOWEVENT) == 1) os_handle_event(&event);
    while (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_RENDER_TARGETS_RESET, SDL_RENDER_DEVICE_RESET) == 1)
        os_handle_event(&event);
}

void os_show_last_frame() {
    if (!sdl_window || !sdl_display) return;
    sdl_handle_window_events();
    sdl_refresh_window();
    // The refresh waits for the display server; an exposure it reported meanwhile (a dialog that was just
    // closed going away) is repainted too.
    sdl_handle_window_events();
}

void os_keep_window_painted() {
    if (!sdl_window || !sdl_display) return;
    sdl_handle_window_events();
}

int32_t os_window_scale_in_use() { return sdl_window ? sdl_scale : 0; }

int os_renderer_in_use() { return sdl_renderer != nullptr; }

[[noreturn]] static void sdl_fail(const char* what) {
    fprintf(stderr, "QuavloII: %s: %s\n", what, SDL_GetError());
    if (sdl_texture) SDL_DestroyTexture(sdl_texture);
    sdl_texture = nullptr;
    if (sdl_renderer) SDL_DestroyRenderer(sdl_renderer);
    sdl_renderer = nullptr;
    if (sdl_window) SDL_DestroyWindow(sdl_window);
    sdl_window = nullptr;
    sdl_surface = nullptr;
    SDL_Quit();
    exit(1);
}

// The requested scale, or the largest that fits the usable area of the display the window opens on.
static int32_t sdl_choose_scale() {
    if (os_window_scale >= 1 && os_window_scale <= OS_MAX_SCALE) return os_window_scale;
    SDL_Rect usable;
    if (SDL_GetDisplayUsableBounds(0, &usable) != 0) return 1;
    return os_fit_scale(usable.w, usable.h);
}

// A MIDI note-on was queued (on MIDI's thread): an event of its own ends the loop's wait, so the note is taken now.
static void sdl_wake_loop() {
    SDL_Event event;
    SDL_zero(event);
    event.type = sdl_wake_type;
    SDL_PushEvent(&event);
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
    // The environment variable of the same name still wins, and then asks for the renderer path.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) sdl_fail("the video system could not start");
    os_watch_display();
    sdl_wake_type = SDL_RegisterEvents(1);
    if (sdl_wake_type != (uint32_t)-1) os_midi_wake.store(sdl_wake_loop, std::memory_order_release);
    sdl_scale = sdl_choose_scale();
    // Not resizable, so the window manager offers no maximise and the client area keeps the frame's proportions.
    // High density allowed: where the display has more pixels than window units, the renderer fills them all.
    sdl_window = SDL_CreateWindow("QuavloII", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width * sdl_scale,
                                  height * sdl_scale, SDL_WINDOW_SHOWN | SDL_WINDOW_ALLOW_HIGHDPI);
    if (!sdl_window) sdl_fail("the window could not be created");
    int client_w = 0, client_h = 0;
    SDL_GetWindowSize(sdl_window, &client_w, &client_h);
    OS_ASSERT(client_w == width * sdl_scale && client_h == height * sdl_scale);
    // Keys are read as keys; no text input or input method is wanted.
    SDL_StopTextInput();

    os_create_dib(width, height);
    if (!sdl_surface && !sdl_renderer) sdl_fail("the window has no drawing surface");
    SDL_RendererInfo info;
    const char* via = "SURFACE";
    if (sdl_renderer) via = SDL_GetRendererInfo(sdl_renderer, &info) == 0 ? info.name : "RENDERER";
    os_log("WINDOW %dx%d SCALE %d PRESENT %s\n", client_w, client_h, sdl_scale, via);
    return 1;
}

// The frame bitmap: the window surface where the driver has one and acceleration was not asked for, else the
// renderer and its texture. Both start black.
void os_create_dib(int32_t width, int32_t height) {
    OS_ASSERT(sdl_window != nullptr);
    if (!sdl_window) return;
    sdl_surface = nullptr;
    sdl_surface_stale = 0;
    if (!sdl_renderer_request()) sdl_surface = SDL_GetWindowSurface(sdl_window);
    if (!sdl_surface && !sdl_open_renderer()) return;
    sdl_measure_view();
    if (sdl_renderer) {
        sdl_render_frame();
        return;
    }
    OS_ASSERT(sdl_surface->w >= width * sdl_scale && sdl_surface->h >= height * sdl_scale);
    SDL_FillRect(sdl_surface, nullptr, 0);
    SDL_UpdateWindowSurface(sdl_window);
}

// The surface belongs to the window and SDL frees it with the window; the renderer goes before the window.
void os_destroy_dib() {
    sdl_surface = nullptr;
    if (sdl_texture) SDL_DestroyTexture(sdl_texture);
    sdl_texture = nullptr;
    if (sdl_renderer) SDL_DestroyRenderer(sdl_renderer);
    sdl_renderer = nullptr;
}

void os_release_window() {
    os_midi_wake.store(nullptr, std::memory_order_release);
    os_destroy_dib();
    sdl_display = nullptr;
    if (sdl_window) SDL_DestroyWindow(sdl_window);
    sdl_window = nullptr;
    sdl_view = sdl_view_info{};
    if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

// Renderer path: the rectangle goes into the texture, then the whole frame to the window.
static void sdl_present_renderer(g_rect r) {
    r = sdl_clip_to(r, G_WIDTH, G_HEIGHT, 1);
    if (r.min_x >= r.max_x || r.min_y >= r.max_y || !sdl_texture) return;
    const SDL_Rect rect = {r.min_x, r.min_y, r.max_x - r.min_x, r.max_y - r.min_y};
    SDL_UpdateTexture(sdl_texture, &rect, g_composite + (size_t)r.min_y * G_WIDTH + r.min_x, G_WIDTH * 4);
    sdl_render_frame();
}

// Surface path: the rectangle, enlarged, goes into the window surface and only that part to the screen.
static void sdl_present_surface(g_rect r) {
    int fresh = 0;
    SDL_Surface* surface = sdl_acquire_surface(&fresh);
    if (!surface) return;
    if (fresh) {
        sdl_repaint_fresh(surface);
        return;
    }
    r = sdl_clip_to(r, surface->w, surface->h, sdl_scale);
    if (!os_copy_frame_scaled(surface, g_composite, r, sdl_scale)) return;
    const SDL_Rect rect = {r.min_x * sdl_scale, r.min_y * sdl_scale, (r.max_x - r.min_x) * sdl_scale,
                           (r.max_y - r.min_y) * sdl_scale};
    if (SDL_UpdateWindowSurfaceRects(sdl_window, &rect, 1) != 0) {
        // SDL refuses a surface it has dropped since it was taken: take the new one and show the whole frame.
        sdl_surface_stale = 1;
        surface = sdl_acquire_surface(&fresh);
        if (surface) sdl_repaint_fresh(surface);
    }
}

void os_present(int32_t width, int32_t height) {
    OS_ASSERT(sdl_display != nullptr);
    const g_rect r = g_frame;
    if (r.min_x >= r.max_x || r.min_y >= r.max_y) return;
    OS_ASSERT(width == G_WIDTH && height == G_HEIGHT);
    if (!sdl_window || !g_composite) return;
    if (sdl_renderer)
        sdl_present_renderer(r);
    else
        sdl_present_surface(r);
}

// ---- Events

static int32_t sdl_frame_x(int32_t x) {
    return os_window_to_frame(x, sdl_view.window_w, sdl_view.output_w, sdl_view.x, sdl_view.factor);
}

static int32_t sdl_frame_y(int32_t y) {
    return os_window_to_frame(y, sdl_view.window_h, sdl_view.output_h, sdl_view.y, sdl_view.factor);
}

int os_handle_event(const SDL_Event* event) {
    switch (event->type) {
    case SDL_QUIT:
        return 1;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        os_key_event(event->key.keysym.scancode, (event->key.keysym.mod & KMOD_ALT) != 0, event->type == SDL_KEYDOWN,
                     event->key.repeat != 0, (event->key.keysym.mod & KMOD_NUM) != 0);
        return 0;
    case SDL_MOUSEMOTION:
        // Positions are taken back to frame pixels, and arrive as the 16-bit unsigned values of the original
        // window messages.
        os_mouse_x = sdl_frame_x(event->motion.x) & 0xFFFF;
        os_mouse_y = sdl_frame_y(event->motion.y) & 0xFFFF;
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
            sdl_measure_view();
            sdl_refresh_window();
            break;
        case SDL_WINDOWEVENT_EXPOSED:
            sdl_refresh_window();
            break;
        default:
            break;
        }
        return 0;
    case SDL_RENDER_TARGETS_RESET:
        sdl_render_frame();
        return 0;
    case SDL_RENDER_DEVICE_RESET:
        // The texture went with the device: a new one, and every layer composed into it again at the next flip.
        if (sdl_renderer && !sdl_create_texture()) OS_ASSERT(sdl_texture != nullptr);
        return 0;
    default:
        return 0;
    }
}

// ---- Message box

void os_message_box(const char* text, const char* caption) {
    if (!text) text = "";
    if (!caption) caption = "";
    os_show_last_frame();
    if (SDL_ShowSimpleMessageBox(0, caption, text, sdl_window) != 0) {
        // Without a window system the message still has to reach the user.
        fprintf(stderr, "QuavloII: %s: %s\n", caption, text);
    }
}

// Save (Return), Discard or Cancel (Escape, or the box closed). Where SDL cannot show a message box (no core
// X fonts, for one), zenity or kdialog asks; with neither, the answer is Cancel, so nothing is discarded unasked.
int os_ask_save_changes(const char* text, const char* caption) {
    static const SDL_MessageBoxButtonData buttons[] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, OS_ANSWER_SAVE, "Save"},
        {0, OS_ANSWER_DISCARD, "Discard"},
        {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, OS_ANSWER_CANCEL, "Cancel"},
    };
    SDL_MessageBoxData box;
    memset(&box, 0, sizeof box);
    box.flags = SDL_MESSAGEBOX_WARNING | SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;
    box.window = sdl_window;
    box.title = caption ? caption : "";
    box.message = text ? text : "";
    box.numbuttons = (int)(sizeof buttons / sizeof buttons[0]);
    box.buttons = buttons;
    int answer = -1;
    os_show_last_frame();
    if (SDL_ShowMessageBox(&box, &answer) != 0) {
        const int asked = os_question_dialog(box.message, box.title);
        if (asked >= 0) return asked;
        fprintf(stderr, "QuavloII: %s: %s (no message box: %s)\n", box.title, box.message, SDL_GetError());
        return OS_ANSWER_CANCEL;
    }
    if (answer != OS_ANSWER_SAVE && answer != OS_ANSWER_DISCARD) return OS_ANSWER_CANCEL;
    return answer;
}

void os_set_title(const char* title) {
    if (sdl_window) SDL_SetWindowTitle(sdl_window, title ? title : "");
}

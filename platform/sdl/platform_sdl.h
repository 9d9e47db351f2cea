// The parts of the SDL2 platform backend that its tests and its other files reach directly: key translation,
// event handling, the copy of the frame rectangle into a surface, the presentation in use, and keeping the
// window's picture around modal boxes. Only the backend and its tests include this header.
#pragma once
#include "graph.h"

#include <cstdint>

union SDL_Event;
struct SDL_Surface;
struct SDL_Window;

// The program's window, null when there is none.
SDL_Window* os_window();

// Windows virtual-key code of the physical key with this SDL scancode (letters and digits by their place on a
// US keyboard, whatever the layout prints on them); 0 for keys the program does not know.
int32_t os_vk_from_scancode(int32_t scancode);

// Records one key press or release: keys pressed with Alt held, F10 and auto-repeats never reach os_keys. With
// Num Lock off the keypad gives navigation keys (os_keypad_vk); a release frees what its press recorded.
// Returns the key index that was passed to os_set_key, or -1 when the key was ignored.
int32_t os_key_event(int32_t scancode, int32_t alt_held, int32_t down, int32_t repeat, int32_t num_lock);

// Frees every key at once, quick taps included (the window lost the keyboard).
void os_release_keys();

// Handles one SDL event: keys, mouse, window changes. Returns 1 for the quit event.
int os_handle_event(const SDL_Event* event);

// Copies the rectangle r of a G_WIDTH x G_HEIGHT 0xAARRGGBB buffer into the same place of dst, converting the
// pixel format when dst is not 32-bit XRGB/ARGB. r is clipped to the buffer and the surface. Returns 1 when
// pixels were copied.
int os_copy_frame_rect(SDL_Surface* dst, const uint32_t* src, g_rect r);
// The same, each pixel enlarged to a scale x scale square (scale 1..OS_MAX_SCALE): frame pixel (x, y) lands at
// (x * scale, y * scale) in dst.
int os_copy_frame_scaled(SDL_Surface* dst, const uint32_t* src, g_rect r, int32_t scale);

// The scale the window was created with (0 without a window), and whether it is presented through a renderer.
int32_t os_window_scale_in_use();
int os_renderer_in_use();

// Before a modal box opens: handles the window's pending events (exposure, size) and shows the whole last frame
// again, so the window keeps its picture while the frame loop stands still. Nothing without a window.
void os_show_last_frame();
// While a modal box is open: handles the window's own pending events, repainting what was exposed; keys, mouse
// and the quit request stay queued for the frame loop. Nothing without a window.
void os_keep_window_painted();

// Termination signals (signals_sdl.cpp). The entry point installs the handlers before SDL starts: SIGTERM, SIGINT
// and SIGHUP are recorded instead of ending the process or becoming a close request. os_poll_event then reports
// OS_EVENT_END, and a dialog program being waited for is closed.
void os_install_signal_handlers();
// The termination signal received so far, 0 for none; the first call that sees one logs it. Main thread.
int os_signal_received();

// The display connection breaking (display_lost_sdl.cpp). os_init_window has Xlib report a broken connection to the
// backend, which logs it, runs os_display_lost (the program's last acts, set by the entry point; they must not use
// the display) and ends the process with exit status 1.
extern void (*os_display_lost)();
void os_watch_display();

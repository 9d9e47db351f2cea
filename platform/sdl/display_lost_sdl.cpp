// The end of the program when its display connection breaks (the X server ends or the connection is cut). Xlib
// reports a broken connection once, from whichever call of SDL's found it, and would then exit at once: static
// destructors running while the audio thread still waits on what they destroy, which hangs the exit for ever. In
// its place the program's last acts run (os_display_lost, set by the entry point: finish the capture, stop the
// sound), and the process ends with status 1; should the last acts hang, an alarm ends it a second later.
// Installed on the main thread once the video system has started; only X11 connections are watched.
#include "platform_sdl.h"

#include "os_tools.h"

#include <SDL.h>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

void (*os_display_lost)(); // the program's last acts once the display is gone; null: none

[[noreturn]] static void sdl_end_now(int) { _exit(1); }

// Xlib's handler for a broken connection: it never returns, as Xlib would exit after it.
static int sdl_display_broken(void*) {
    struct sigaction action = {};
    action.sa_handler = sdl_end_now;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, nullptr);
    alarm(1);
    os_log("display connection lost: shutting down\n");
    if (os_display_lost) os_display_lost();
    fflush(stdout);
    fflush(stderr);
    _exit(1);
}

void os_watch_display() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || strcmp(driver, "x11") != 0) return;
    // SDL loads Xlib itself; the handler is set in that same library, without linking it a second time.
    void* xlib = dlopen("libX11.so.6", RTLD_NOW | RTLD_NOLOAD);
    if (!xlib) return;
    using io_error_handler = int (*)(void*);
    using set_handler = io_error_handler (*)(io_error_handler);
    const auto set = (set_handler)dlsym(xlib, "XSetIOErrorHandler");
    if (set) set(sdl_display_broken);
}

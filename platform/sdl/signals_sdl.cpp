// Termination signals on the Linux desktop: SIGTERM (logout, kill), SIGINT (Ctrl+C in the terminal) and SIGHUP
// (the terminal or the session went away) end the program through its normal shut-down. SDL's own handlers are
// switched off, since they would turn the signal into a close request, and a close request may ask about unsaved
// work when nobody is there to answer. The handler only records the signal; the frame loop sees it through
// os_poll_event, and the dialog wait through os_signal_received, which logs it once. Installed and read on the main
// thread; installed before SDL starts.
#include "platform_sdl.h"

#include "os_tools.h"

#include <SDL.h>
#include <csignal>

static volatile sig_atomic_t os_signal_number; // the termination signal received, 0 while none has been
static int os_signal_logged;                   // 1 once the main thread has logged the signal

// Async-signal-safe: one store. No SA_RESTART, so a blocking call returns with EINTR and its loop looks again.
static void os_on_signal(int number) { os_signal_number = number; }

void os_install_signal_handlers() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    struct sigaction action = {};
    action.sa_handler = os_on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // A write to a connection that has gone (the display server's) fails instead of ending the process unannounced;
    // the broken display is then reported and handled (display_lost_sdl.cpp).
    signal(SIGPIPE, SIG_IGN);
}

int os_signal_received() {
    const int number = os_signal_number;
    if (number && !os_signal_logged) {
        os_signal_logged = 1;
        os_log("signal %d: shutting down\n", number);
    }
    return number;
}

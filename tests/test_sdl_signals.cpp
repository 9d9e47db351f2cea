// Termination signals in the SDL2 backend: once the handlers are in, SIGTERM, SIGINT and SIGHUP are recorded
// instead of ending the process, SDL turns none of them into a close request, os_poll_event reports the end, and
// a dialog program being waited for is closed instead of being waited for to the end.
#include "dialogs_sdl.h"
#include "os_platform.h"
#include "platform_sdl.h"

#include <gtest/gtest.h>

#include <SDL.h>
#include <csignal>

namespace {

int32_t idle_calls; // calls of the dialog wait's idle function

TEST(SdlSignals, SignalsEndTheLoopAndCloseAWaitingDialog) {
    os_install_signal_handlers();
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS), 0);
    EXPECT_EQ(os_signal_received(), 0);
    EXPECT_EQ(os_poll_event(), OS_EVENT_NONE);

    // A dialog program that would take two minutes to answer; the signal arrives while it is waited for.
    char sleep_name[] = "sleep", seconds[] = "120";
    char* argv[] = {sleep_name, seconds, nullptr};
    char output[16];
    int32_t length = -1;
    int exit_status = 0;
    const int result = os_dialog_run(argv, output, sizeof output, &length, [] {
        if (idle_calls++ == 1) raise(SIGHUP);
    }, &exit_status);
    EXPECT_EQ(result, OS_DIALOG_CANCELLED);
    EXPECT_LE(idle_calls, 10) << "the wait went on after the signal";
    EXPECT_EQ(os_signal_received(), SIGHUP);

    for (int number : {SIGTERM, SIGINT}) {
        raise(number);
        EXPECT_EQ(os_signal_received(), number);
    }
    SDL_PumpEvents();
    EXPECT_EQ(SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_QUIT, SDL_QUIT), 0) << "SDL made a close request of it";
    EXPECT_EQ(os_poll_event(), OS_EVENT_END);
    EXPECT_EQ(os_poll_event(), OS_EVENT_END) << "the end is reported until the loop has ended";
    SDL_QuitSubSystem(SDL_INIT_EVENTS);
}

} // namespace

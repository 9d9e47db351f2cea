// The frame loop on the main thread: one tick alternates with at most one window event; a tick starts the
// application on its first call and afterwards runs one fixed step whenever it is due; otherwise it waits until a
// window event arrives or the step falls due, whichever comes first, so an idle window does not keep waking up.
#include "graph.h"
#include "os_platform.h"
#include "os_tools.h"

#include <cstring>

int32_t os_running = 1; // the run loop continues while this is 1
int32_t os_frames = -1; // -1 before start-up, then steps since the last FPS line
uint16_t os_step_ms;    // step length in ms, set by the application's start-up
uint32_t os_clock;      // ms accumulated from the 16-bit clock deltas
uint32_t os_next_step;  // os_clock value at which the next step is due
uint32_t os_next_fps;   // os_clock value at which the next FPS line is due
uint16_t os_time_now;   // low 16 bits of the clock at the start of this tick
uint16_t os_time_prev;  // os_time_now of the previous tick

void os_tick() {
    if (os_frames < 0) {
        os_time_now = (uint16_t)os_time_ms();
        memset(os_keys, 0, sizeof os_keys);
        os_clock = 0;
        os_frames = 0;
        os_next_step = os_step_ms;
        app_init();
        // The time spent starting up is not counted.
        os_time_now = os_time_prev = (uint16_t)os_time_ms();
        return;
    }

    os_time_now = (uint16_t)os_time_ms();
    int32_t delta = (int32_t)os_time_now - (int32_t)os_time_prev;
    if (delta < 0) {
        os_log("fix time:0x%X -> 0x%X\n", os_time_prev, os_time_now);
        delta = (int32_t)os_time_now - (int32_t)os_time_prev + 65535;
    }
    os_clock += (uint32_t)delta;
    if (os_clock < os_next_step) {
        // The time left until the step is due (at least 1 ms here), capped at a second against a stray value.
        const uint32_t due = os_next_step - os_clock;
        os_wait_event(due > 1000 ? 1000 : (int32_t)due);
        os_time_prev = os_time_now;
        return;
    }

    // One step, however many step lengths have passed: a late step delays the later ones.
    app_update();
    app_draw_interface();
    app_draw_pattern_view();
    if (app_present_flag()) g_flip();

    os_frames++;
    os_next_step = os_clock + os_step_ms;
    if (os_clock >= os_next_fps) {
        os_next_fps += 1000;
        os_log("FPS:%d (%d)\n", os_frames, os_clock);
        os_frames = 0;
    }
    os_advance_keys();
    os_time_prev = os_time_now;
}

void os_run() {
    os_running = 1;
    while (os_running == 1) {
        os_tick();
        // Closing the window is a request: the application may first ask about unsaved work, and refuse. A
        // termination signal is not: nobody may be there to answer, so the program ends at once.
        const int request = os_poll_event();
        if (request == OS_EVENT_END || (request == OS_EVENT_CLOSE && app_confirm_quit())) {
            os_running = 0;
            app_shutdown();
            return;
        }
    }
}

// The frame clock on the main thread: the host's loop (the native entry points, or a browser's animation frame)
// asks it whether a 25 ms step is due, runs the step itself, and reports it done. The clock keeps the step's
// timing (a late step delays the later ones, no catching up), the key counters and the FPS line; it never calls
// the program it paces.
#include "os_platform.h"
#include "os_tools.h"

#include <cstring>

int32_t os_frames = -1; // -1 before start-up, then steps since the last FPS line
uint16_t os_step_ms;    // step length in ms, set by the application's start-up
uint32_t os_clock;      // ms accumulated from the 16-bit clock deltas
uint32_t os_next_step;  // os_clock value at which the next step is due
uint32_t os_next_fps;   // os_clock value at which the next FPS line is due
uint16_t os_time_now;   // low 16 bits of the clock at the latest reading
uint16_t os_time_prev;  // os_time_now of the reading before

void os_frame_start() {
    os_time_now = (uint16_t)os_time_ms();
    memset(os_keys, 0, sizeof os_keys);
    os_clock = 0;
    os_frames = 0;
    os_next_step = os_step_ms;
}

void os_frame_started() {
    // The time spent starting up is not counted.
    os_time_now = os_time_prev = (uint16_t)os_time_ms();
}

int32_t os_frame_due() {
    os_time_now = (uint16_t)os_time_ms();
    int32_t delta = (int32_t)os_time_now - (int32_t)os_time_prev;
    if (delta < 0) {
        os_log("fix time:0x%X -> 0x%X\n", os_time_prev, os_time_now);
        delta = (int32_t)os_time_now - (int32_t)os_time_prev + 65535;
    }
    os_clock += (uint32_t)delta;
    os_time_prev = os_time_now;
    if (os_clock >= os_next_step) return 0;
    // The time left until the step is due (at least 1 ms here), capped at a second against a stray value.
    const uint32_t due = os_next_step - os_clock;
    return due > 1000 ? 1000 : (int32_t)due;
}

void os_frame_done() {
    // One step, however many step lengths have passed: a late step delays the later ones.
    os_frames++;
    os_next_step = os_clock + os_step_ms;
    if (os_clock >= os_next_fps) {
        os_next_fps += 1000;
        os_log("FPS:%d (%d)\n", os_frames, os_clock);
        os_frames = 0;
    }
    os_advance_keys();
}

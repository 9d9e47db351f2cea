// Resets the frame loop's state between tests; kept apart so suites that never run the loop need no hooks.
#include "headless.h"

#include "os_platform.h"

void hl_reset_loop() {
    hl_reset();
    os_frames = -1;
    os_step_ms = 0;
    os_clock = os_next_step = os_next_fps = 0;
    os_time_now = os_time_prev = 0;
}

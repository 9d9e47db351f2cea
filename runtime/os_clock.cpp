// Millisecond clock over the platform's performance counter, counted from its first successful call.
#include "os_platform.h"
#include "os_tools.h"

static int32_t os_clock_started; // 1 once the counter's frequency and start value are known
static int64_t os_clock_freq;    // counts per second
static int64_t os_clock_start;   // counter value at the first successful call
static float os_clock_factor;    // milliseconds per count

int32_t os_time_ms() {
    if (!os_clock_started) {
        os_clock_freq = os_counter_freq();
        OS_ASSERT(os_clock_freq > 0);
        if (os_clock_freq <= 0) return 0;
        os_clock_start = os_counter();
        os_clock_started = 1;
        os_clock_factor = (float)(1.0 / ((double)os_clock_freq * (double)0.001f));
    }
    const int64_t elapsed = os_counter() - os_clock_start;
    const int64_t ms = (int64_t)((double)elapsed * (double)os_clock_factor + 0.5);
    return (int32_t)(uint32_t)(uint64_t)ms;
}

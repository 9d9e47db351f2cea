// The one piece of platform the command-line companion needs: the monotonic counter under the engine's
// millisecond clock. Main thread only; owns nothing.
#include "os_platform.h"

#include <chrono>

int64_t os_counter() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t os_counter_freq() { return 1000000000; }

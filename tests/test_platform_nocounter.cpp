// A machine without a performance counter: the clock reports it and stands still.
#include "headless.h"
#include "log_capture.h"
#include "os_platform.h"

#include <gtest/gtest.h>

TEST(ClockWithoutCounter, AssertsAndReturnsZeroUntilACounterAppears) {
    hl_reset();
    hl_counter_freq = 0;
    LogCapture log;
    EXPECT_EQ(os_time_ms(), 0);
    EXPECT_EQ(os_time_ms(), 0);
    EXPECT_EQ(log.asserts(), 2);
    hl_counter_freq = 1000000; // the next call tries again
    hl_set_time_ms(0);
    EXPECT_EQ(os_time_ms(), 0);
    hl_advance_ms(40);
    EXPECT_EQ(os_time_ms(), 40);
    EXPECT_EQ(log.asserts(), 2);
}

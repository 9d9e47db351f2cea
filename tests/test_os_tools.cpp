// Tracked allocator, log and bounded string length.
#include "log_capture.h"
#include "os_tools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <random>
#include <thread>
#include <vector>

namespace {

// Total size the allocator reports for a request, read from its "os_alloc:" log line.
int logged_total(const LogCapture& log) {
    for (const auto& line : log.lines()) {
        unsigned addr = 0;
        int total = 0, serial = 0;
        if (sscanf(line.c_str(), "os_alloc: 0x%X %d (%d)", &addr, &total, &serial) == 3) return total;
    }
    return -1;
}

TEST(Alloc, BlockSizesRoundUpPastTheHeader) {
    const struct { int request, total; } cases[] = {{0, 32}, {23, 32}, {24, 64}, {56, 96}, {1536, 1568}};
    for (const auto& c : cases) {
        LogCapture log;
        void* p = os_alloc(c.request);
        EXPECT_EQ(logged_total(log), c.total) << "request " << c.request;
        os_free(&p);
    }
}

TEST(Alloc, BlocksAreZeroedStampedAndCounted) {
    const int32_t before = os_alloc_count;
    const uint8_t serial = os_alloc_serial;
    uint8_t* p = (uint8_t*)os_alloc(100);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(os_alloc_count, before + 1);
    EXPECT_EQ(p[-8], 0xA5);
    EXPECT_EQ(p[-7], serial);
    for (int i = -6; i < 0; i++) EXPECT_EQ(p[i], 0);
    for (int i = 0; i < 100; i++) EXPECT_EQ(p[i], 0);
    EXPECT_EQ(os_alloc_serial, (uint8_t)(serial + 1));
    os_free(&p);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(os_alloc_count, before);
}

TEST(Alloc, SerialWrapsAfter256Blocks) {
    const uint8_t first = os_alloc_serial;
    void* blocks[257];
    for (auto& b : blocks) b = os_alloc(8);
    EXPECT_EQ(((uint8_t*)blocks[0])[-7], first);
    EXPECT_EQ(((uint8_t*)blocks[255])[-7], (uint8_t)(first + 255));
    EXPECT_EQ(((uint8_t*)blocks[256])[-7], first); // the 257th carries the first serial again
    for (auto& b : blocks) os_free(&b);
}

TEST(Alloc, LogLinesNameAddressSizeAndSerial) {
    LogCapture log;
    const uint8_t serial = os_alloc_serial;
    void* p = os_alloc(24);
    char expected[64];
    snprintf(expected, sizeof expected, "os_alloc: 0x%X 64 (%d)\n", (unsigned)(uintptr_t)((uint8_t*)p - 8), serial);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], expected);
    snprintf(expected, sizeof expected, "os_free : 0x%X (%d)\n", (unsigned)(uintptr_t)((uint8_t*)p - 8), serial);
    os_free(&p);
    EXPECT_EQ(log.lines().back(), expected);
}

TEST(Free, SecondFreeThroughACopyIsReportedAndHarmless) {
    void* p = os_alloc(40);
    void* copy = p;
    const int32_t live = os_alloc_count;
    os_free(&p);
    LogCapture log;
    os_free(&copy);
    EXPECT_EQ(log.asserts(), 1);
    EXPECT_EQ(copy, nullptr);
    EXPECT_EQ(os_alloc_count, live - 1);
}

// Thousands of live blocks (the record grows several times) freed in a scrambled order: every free of a live
// block is accepted whatever was removed before it, and a second free of each is still caught.
TEST(Free, ManyBlocksFreedInAnyOrderAreEachAcceptedOnce) {
    std::vector<void*> blocks;
    const int32_t live = os_alloc_count;
    for (int32_t i = 0; i < 3000; i++) blocks.push_back(os_alloc(i % 7 * 16));
    std::mt19937 order(7);
    std::shuffle(blocks.begin(), blocks.end(), order);
    LogCapture log;
    int32_t expected_asserts = 0;
    for (size_t i = 0; i < blocks.size(); i++) {
        void* copy = blocks[i];
        os_free(&blocks[i]);
        ASSERT_EQ(log.asserts(), expected_asserts) << "live block " << i << " refused";
        if (i % 3 == 0) {
            os_free(&copy);
            ASSERT_EQ(log.asserts(), ++expected_asserts) << "second free of block " << i << " accepted";
        }
    }
    EXPECT_EQ(os_alloc_count, live);
}

TEST(Free, ForeignMemoryIsReportedAndNotReleased) {
    static uint8_t not_ours[64];
    void* p = not_ours + 8;
    const int32_t live = os_alloc_count;
    LogCapture log;
    os_free(&p);
    EXPECT_EQ(log.asserts(), 1);
    EXPECT_EQ(os_alloc_count, live);
}

TEST(Free, NullVariableOrNullPointerTouchesNothing) {
    const int32_t live = os_alloc_count;
    LogCapture log;
    void* none = nullptr;
    os_free(&none);
    os_free(nullptr);
    EXPECT_EQ(log.asserts(), 2);
    EXPECT_EQ(os_alloc_count, live);
}

TEST(Log, PercentSignsInArgumentsPassUnchanged) {
    LogCapture log;
    os_log("load %s\n", "100%dance.qvl");
    os_log("rate 50%%\n");
    ASSERT_EQ(log.lines().size(), 2u);
    EXPECT_EQ(log.lines()[0], "load 100%dance.qvl\n");
    EXPECT_EQ(log.lines()[1], "rate 50%\n");
}

TEST(Log, LongLinesAreCutAt1023Characters) {
    LogCapture log;
    const std::string big(3000, 'x');
    os_log("%s", big.c_str());
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].size(), 1023u);
}

TEST(Log, LinesFromTwoThreadsArriveWhole) {
    LogCapture log;
    auto writer = [](char c) {
        const std::string text(200, c);
        for (int i = 0; i < 300; i++) os_log("%s\n", text.c_str());
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 600u);
    for (const auto& l : lines) {
        ASSERT_EQ(l.size(), 201u);
        EXPECT_EQ(l.find_first_not_of(l[0]), 200u);
    }
}

TEST(Assert, LogsFileAndLineAndContinues) {
    LogCapture log;
    int after = 0;
    OS_ASSERT(1 == 2);
    const int line = __LINE__ - 1;
    after = 1;
    EXPECT_EQ(after, 1);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], "assert:tests/test_os_tools.cpp " + std::to_string(line) + "\n");
}

TEST(Strlen, CountsUpTo1024AndFlagsLongTexts) {
    LogCapture log;
    EXPECT_EQ(os_strlen(""), 0);
    EXPECT_EQ(os_strlen("abc"), 3);
    EXPECT_EQ(os_strlen(std::string(999, 'x').c_str()), 999);
    EXPECT_EQ(log.asserts(), 0);
    EXPECT_EQ(os_strlen(std::string(1000, 'x').c_str()), 1000);
    EXPECT_EQ(log.asserts(), 1);
    EXPECT_EQ(os_strlen(std::string(1500, 'x').c_str()), 1024);
    EXPECT_EQ(log.asserts(), 2);
    EXPECT_EQ(os_strlen(nullptr), 0);
    EXPECT_EQ(log.asserts(), 3);
}

} // namespace

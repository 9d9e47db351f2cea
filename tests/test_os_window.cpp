// Window scale: what counts as a scale, which scale fits a display with room for its panels, and how pointer
// positions in an enlarged (or high-density) window come back to frame pixels.
#include "os_platform.h"

#include <gtest/gtest.h>

namespace {

TEST(WindowScale, OnlyASingleDigitFromOneToThreeIsAScale) {
    const struct {
        const char* text;
        int32_t scale;
    } rows[] = {{"1", 1},  {"2", 2},  {"3", 3},  {"0", 0},  {"4", 0},   {"9", 0}, {"", 0},
                {"2x", 0}, {" 2", 0}, {"02", 0}, {"-1", 0}, {"1.5", 0}, {"x", 0}, {nullptr, 0}};
    for (const auto& row : rows) EXPECT_EQ(os_parse_scale(row.text), row.scale) << (row.text ? row.text : "null");
}

TEST(WindowScale, TheLargestScaleThatLeavesRoomForPanels) {
    const struct {
        int32_t width, height, scale;
    } rows[] = {
        {1024, 768, 1},  {1366, 728, 1},  {1920, 1040, 1}, // a full-HD screen with a panel: 2x is 1040 rows high
        {1920, 1200, 2}, {1840, 1140, 2},                  // exactly the room for 2x
        {1839, 1140, 1}, {1840, 1139, 1},                  // one pixel short either way
        {2560, 1400, 2}, {3840, 2100, 3}, {2740, 1660, 3}, // 4K screens
        {7680, 4320, 3},                                   // never more than 3x
        {0, 0, 1},       {-5, 900, 1},    {800, 400, 1},   // unknown or too small: the window is still shown
    };
    for (const auto& row : rows)
        EXPECT_EQ(os_fit_scale(row.width, row.height), row.scale) << row.width << "x" << row.height;
}

TEST(WindowScale, PointerPositionsComeBackToFramePixels) {
    const struct {
        int32_t position, window, output, offset, factor, frame;
    } rows[] = {
        {0, 900, 900, 0, 1, 0},       {899, 900, 900, 0, 1, 899},    // 1x: unchanged
        {0, 1800, 1800, 0, 2, 0},     {1, 1800, 1800, 0, 2, 0},      // 2x: both pixels of a square
        {221, 1800, 1800, 0, 2, 110}, {1799, 1800, 1800, 0, 2, 899}, //
        {659, 2700, 2700, 0, 3, 219}, {660, 2700, 2700, 0, 3, 220},  // 3x
        {450, 900, 1800, 0, 2, 450},  {451, 900, 1800, 0, 2, 451},   // high density: window units are 2 pixels
        {100, 1920, 1920, 60, 2, 20}, {59, 1920, 1920, 60, 2, -1},   // a centred picture, left of it
        {-1, 1800, 1800, 0, 2, -1},   {-3, 1800, 1800, 0, 2, -2},    // left of the window rounds downwards
        {300, 0, 0, 0, 0, 300},                                      // no window known: unchanged
    };
    for (const auto& r : rows)
        EXPECT_EQ(os_window_to_frame(r.position, r.window, r.output, r.offset, r.factor), r.frame)
            << r.position << " in " << r.window << "/" << r.output << " offset " << r.offset << " x" << r.factor;
}

} // namespace

// The display against the headless platform: start-up and shut-down, dirty rectangles, composition of the
// layers and what reaches the window.
#include "graph.h"
#include "graph_failure_png.h"
#include "headless.h"
#include "log_capture.h"
#include "os_tools.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

constexpr uint32_t OLD = 0xFF222222; // what the window showed before the flip under test

uint32_t window_at(int32_t x, int32_t y) { return hl_window[y * G_WIDTH + x]; }
uint32_t& layer_at(int32_t layer, int32_t x, int32_t y) { return g_layers[layer].pixels[y * G_WIDTH + x]; }

void use_layer(int32_t i) {
    g_target = &g_layers[i];
    g_target_index = i;
}

void expect_rect(const g_rect& r, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    EXPECT_EQ(r.min_x, x0);
    EXPECT_EQ(r.min_y, y0);
    EXPECT_EQ(r.max_x, x1);
    EXPECT_EQ(r.max_y, y1);
}

class Display : public ::testing::Test {
protected:
    LogCapture log;

    void SetUp() override {
        hl_reset();
        ASSERT_EQ(os_alloc_count, 0);
        g_init_display();
    }
    void TearDown() override {
        save_failure_png(hl_window, G_WIDTH, G_HEIGHT, 1);
        if (g_display.initialised) g_deinit_display();
        EXPECT_EQ(os_alloc_count, 0);
    }

    // Presents the start-up frame, then paints the window OLD so that each later present is visible.
    void settle() {
        g_flip();
        for (uint32_t& p : hl_window) p = OLD;
        hl_presents = 0;
    }
    int32_t window_pixels_not_old() const {
        int32_t n = 0;
        for (uint32_t p : hl_window) n += p != OLD;
        return n;
    }
};

TEST(DisplayLifecycle, StartUpLogsInOrderAndShutDownFreesEverything) {
    hl_reset();
    LogCapture log;
    ASSERT_EQ(os_alloc_count, 0);
    EXPECT_EQ(g_init_display(), 1);
    std::vector<std::string> fixed;
    for (const std::string& line : log.lines())
        if (line.rfind("os_alloc", 0) != 0) fixed.push_back(line);
    EXPECT_EQ(fixed, (std::vector<std::string>{"g_init_display\n", "PLATFORM HEADLESS\n", "RENDER SW\n",
                                               "g_init_display ok\n"}));
    EXPECT_EQ(os_alloc_count, G_LAYERS + 1); // the layers and the composite buffer

    EXPECT_EQ(g_display.width, 900);
    EXPECT_EQ(g_display.height, 520);
    EXPECT_EQ(g_display.window_width, 900);
    EXPECT_EQ(g_display.window_height, 520);
    EXPECT_EQ(g_display.initialised, 1);
    EXPECT_TRUE(hl_window_open);
    for (int32_t i = 0; i < G_LAYERS; i++) {
        ASSERT_NE(g_layers[i].pixels, nullptr);
        EXPECT_EQ(g_layers[i].width, 900);
        EXPECT_EQ(g_layers[i].height, 520);
        EXPECT_EQ(g_layers[i].bytes_per_pixel, 4);
        EXPECT_EQ(g_layers[i].color_key, 0);
        EXPECT_EQ(g_layer_on[i], i == 0 ? 1 : 0);
        expect_rect(g_dirty[i], 0, 0, 900, 520);
        for (int32_t p = 0; p < G_WIDTH * G_HEIGHT; p += 997) ASSERT_EQ(g_layers[i].pixels[p], 0u);
    }
    EXPECT_NE(g_composite, nullptr);
    EXPECT_EQ(g_target, &g_layers[0]);
    EXPECT_EQ(g_target_index, 0);

    // Draw so that the fill buffer exists too; shut-down frees it with the rest.
    g_fill_rect(0, 0, 900, 520, 0xFF0000FF);
    g_flip();
    log.clear();
    g_deinit_display();
    EXPECT_EQ(log.count("g_deinit_display\n"), 1);
    EXPECT_EQ(log.lines().front(), "g_deinit_display\n");
    EXPECT_EQ(log.asserts(), 0);
    EXPECT_EQ(os_alloc_count, 0);
    EXPECT_EQ(g_display.initialised, 0);
    EXPECT_FALSE(hl_window_open);
    for (int32_t i = 0; i < G_LAYERS; i++) EXPECT_EQ(g_layers[i].pixels, nullptr);
    EXPECT_EQ(g_composite, nullptr);
}

TEST(DisplayLifecycle, MisuseIsReportedWithoutLeaksOrCrashes) {
    hl_reset();
    LogCapture log;
    g_deinit_display(); // never started
    EXPECT_EQ(log.asserts(), 1);

    g_init_display();
    log.clear();
    EXPECT_EQ(g_init_display(), 0); // started twice: refused, nothing allocated again
    EXPECT_EQ(log.asserts(), 1);
    EXPECT_EQ(os_alloc_count, G_LAYERS + 1);

    // A block still live at shut-down is reported, and shut-down completes.
    void* forgotten = os_alloc(16);
    log.clear();
    g_deinit_display();
    EXPECT_EQ(log.asserts(), 1);
    EXPECT_EQ(g_display.initialised, 0);
    os_free(&forgotten);
    EXPECT_EQ(os_alloc_count, 0);
}

TEST(DisplayLifecycle, WindowFailureIsReturnedAndDrawingStillWorks) {
    hl_reset();
    hl_window_fail = true;
    EXPECT_EQ(g_init_display(), 0);
    EXPECT_EQ(g_display.initialised, 1);
    g_fill_rect(0, 0, 10, 10, 0xFFFFFFFF);
    g_flip();
    EXPECT_EQ(g_composite[0], 0xFFFFFFFFu);
    g_deinit_display();
    EXPECT_EQ(os_alloc_count, 0);
}

TEST_F(Display, FirstFlipPresentsTheWholeFrame) {
    g_fill_rect(0, 0, 900, 520, 0xFF0000FF);
    g_fill_rect(899, 519, 1, 1, 0xFFFFFFFF);
    for (uint32_t& p : hl_window) p = OLD;
    g_flip();
    EXPECT_EQ(hl_presents, 1);
    EXPECT_EQ(hl_present_x0, 0);
    EXPECT_EQ(hl_present_y0, 0);
    EXPECT_EQ(hl_present_x1, 900);
    EXPECT_EQ(hl_present_y1, 520);
    EXPECT_EQ(window_at(0, 0), 0xFF0000FFu);
    EXPECT_EQ(window_at(898, 519), 0xFF0000FFu);
    EXPECT_EQ(window_at(899, 519), 0xFFFFFFFFu);
    EXPECT_EQ(window_pixels_not_old(), G_WIDTH * G_HEIGHT);
    for (int32_t i = 0; i < G_LAYERS; i++) expect_rect(g_dirty[i], 0xFFFF, 0xFFFF, 0, 0);
    expect_rect(g_frame, 0xFFFF, 0xFFFF, 0, 0);
}

TEST_F(Display, AStepWithoutDrawingLeavesTheWindowAlone) {
    settle();
    layer_at(0, 5, 5) = 0xFFFFFFFF; // changed, but never marked
    g_flip();
    g_flip();
    EXPECT_EQ(hl_presents, 0);
    EXPECT_EQ(window_pixels_not_old(), 0);
}

TEST_F(Display, OnlyTheFrameRectangleReachesTheWindow) {
    settle();
    layer_at(0, 700, 400) = 0xFFFFFFFF; // outside what is drawn below, never marked
    g_fill_rect(100, 50, 30, 20, 0xFF00FF00);
    use_layer(1);
    g_layer_on[1] = 1;
    g_fill_rect(120, 60, 40, 5, 0xFFFF0000);
    g_flip();
    EXPECT_EQ(hl_presents, 1);
    EXPECT_EQ(hl_present_x0, 100);
    EXPECT_EQ(hl_present_y0, 50);
    EXPECT_EQ(hl_present_x1, 160);
    EXPECT_EQ(hl_present_y1, 70);
    EXPECT_EQ(window_at(700, 400), OLD);
    EXPECT_EQ(window_at(99, 50), OLD);
    EXPECT_EQ(window_at(160, 60), OLD);
    EXPECT_EQ(window_at(100, 50), 0xFF00FF00u);
    EXPECT_EQ(window_at(159, 60), 0xFFFF0000u);
    // Inside the union but drawn on neither layer: the bottom layer's (transparent black) pixels.
    EXPECT_EQ(window_at(150, 50), 0u);
    EXPECT_EQ(window_pixels_not_old(), 60 * 20);
}

TEST_F(Display, LayersComposeByAlpha) {
    settle();
    g_layer_on[1] = 1;
    const uint32_t white = 0xFFFFFFFF, black = 0xFF000000;
    struct Case {
        uint32_t below, above, shown;
    } cases[] = {
        {white, 0x00000000, white},           // alpha 0: the lower pixel shows
        {white, 0x00FF00FF, white},           // transparent magenta of a picture
        {black, 0x80FFFFFF, 0xFF808080},      // alpha 128: half way, truncated
        {white, 0x80000000, 0xFF7E7E7E},      // 255 x (1 - 128/255) in single precision is just under 127
        {0xFF0000FF, 0xEFFF0000, 0xFFEF000F}, // alpha 239 still blends
        {0xFF0000FF, 0xF0FF0000, 0xF0FF0000}, // alpha 240 replaces, its alpha byte included
        {0xFF0000FF, 0xFF00FF00, 0xFF00FF00}, // alpha 255 replaces
        {0xFF0A0A0A, 0x01FAFAFA, 0xFF0A0A0A}, // alpha 1: 10 x (254/255) + 250 x (1/255), truncated
    };
    int32_t x = 10;
    for (const Case& c : cases) {
        use_layer(0);
        g_fill_rect(x, 10, 1, 1, c.below);
        use_layer(1);
        g_fill_rect(x, 10, 1, 1, c.above);
        x += 2;
    }
    // A lone blending pixel anywhere in an otherwise transparent row of the upper layer still blends.
    for (int32_t offset = 0; offset < 9; offset++) {
        use_layer(0);
        g_fill_rect(100, 20 + offset, 9, 1, black);
        use_layer(1);
        g_fill_rect(100 + offset, 20 + offset, 1, 1, 0x80FFFFFF);
    }
    g_flip();
    x = 10;
    for (const Case& c : cases) {
        EXPECT_EQ(window_at(x, 10), c.shown) << std::hex << c.above << " over " << c.below;
        x += 2;
    }
    for (int32_t offset = 0; offset < 9; offset++)
        for (int32_t i = 0; i < 9; i++)
            EXPECT_EQ(window_at(100 + i, 20 + offset), i == offset ? 0xFF808080u : black) << offset << " " << i;
}

// The transparent part of an upper layer is remembered row by row so that scrolling below it does not read it
// again; drawing on such a row makes it count again.
TEST_F(Display, AnUpperLayerRowFoundTransparentShowsWhatIsDrawnOnItLater) {
    settle();
    g_layer_on[1] = 1;
    for (const uint32_t below : {0xFF101010u, 0xFF202020u, 0xFF303030u}) {
        use_layer(0);
        g_fill_rect(100, 30, 100, 10, below);
        if (below == 0xFF303030u) {
            use_layer(1);
            g_fill_rect(150, 35, 1, 1, 0xFF0000FFu);
        }
        g_flip();
        EXPECT_EQ(window_at(120, 35), below);
        EXPECT_EQ(window_at(150, 35), below == 0xFF303030u ? 0xFF0000FFu : below);
    }
}

TEST_F(Display, UpperLayersStackInOrderAndTheLowestEnabledLayerIsCopiedWhole) {
    settle();
    g_layer_on[0] = 0;
    g_layer_on[2] = 1;
    g_layer_on[4] = 1;
    use_layer(2);
    g_fill_rect(0, 0, 4, 1, 0x80FFFFFF); // the base now: copied, alpha and all
    use_layer(4);
    g_fill_rect(2, 0, 2, 1, 0xFF00FF00);
    use_layer(3); // disabled: not shown
    g_fill_rect(0, 0, 4, 1, 0xFFFF0000);
    g_flip();
    EXPECT_EQ(window_at(0, 0), 0x80FFFFFFu);
    EXPECT_EQ(window_at(2, 0), 0xFF00FF00u);
    EXPECT_EQ(hl_present_x1, 4);
}

TEST_F(Display, RectangleOnADisabledLayerIsDropped) {
    settle();
    use_layer(2);
    g_fill_rect(300, 300, 50, 50, 0xFFFFFFFF);
    expect_rect(g_dirty[2], 300, 300, 350, 350);
    g_flip();
    EXPECT_EQ(hl_presents, 0);
    expect_rect(g_dirty[2], 0xFFFF, 0xFFFF, 0, 0);
    // Enabling the layer later does not bring the forgotten rectangle back.
    g_layer_on[2] = 1;
    g_flip();
    EXPECT_EQ(hl_presents, 0);
    EXPECT_EQ(window_pixels_not_old(), 0);
    // The next drawing on it shows, and with it whatever else of the layer lies inside its rectangle.
    g_fill_rect(340, 340, 20, 20, 0xFF00FF00);
    g_flip();
    EXPECT_EQ(hl_presents, 1);
    EXPECT_EQ(window_at(341, 341), 0xFF00FF00u);
    EXPECT_EQ(window_at(300, 300), OLD);
}

TEST_F(Display, MarkDirtyTakesCornersInEitherOrderAndClampsToTheLayer) {
    settle();
    g_mark_dirty(50, 40, 10, 20);
    expect_rect(g_dirty[0], 10, 20, 50, 40);
    g_mark_dirty(-100, 30, 20, 1000);
    expect_rect(g_dirty[0], 0, 20, 50, 520);
    g_mark_dirty(2000, -5, 890, -50);
    expect_rect(g_dirty[0], 0, 0, 900, 520);

    use_layer(3);
    g_mark_dirty(5, 6, 7, 8);
    expect_rect(g_dirty[3], 5, 6, 7, 8);

    // An index outside the five layers is reported and marks nothing.
    g_target_index = 5;
    log.clear();
    g_mark_dirty(1, 1, 2, 2);
    EXPECT_EQ(log.asserts(), 1);
    use_layer(0);
}

TEST_F(Display, FrameIsTheUnionOfTheEnabledLayersOnly) {
    settle();
    g_layer_on[1] = 1;
    use_layer(0);
    g_fill_rect(10, 10, 5, 5, 0xFF000001);
    use_layer(1);
    g_fill_rect(200, 100, 5, 5, 0xFF000002);
    use_layer(2);
    g_fill_rect(400, 400, 5, 5, 0xFF000003);
    g_flip();
    EXPECT_EQ(hl_present_x0, 10);
    EXPECT_EQ(hl_present_y0, 10);
    EXPECT_EQ(hl_present_x1, 205);
    EXPECT_EQ(hl_present_y1, 105);
    EXPECT_EQ(window_at(12, 12), 0xFF000001u);
    EXPECT_EQ(window_at(202, 102), 0xFF000002u);
    EXPECT_EQ(window_at(402, 402), OLD);
}

} // namespace

// The SDL2 window and its presentation, on SDL's off-screen video driver: the window's shape, the copy of only
// the frame rectangle, pixel-format conversion, a surface that SDL replaces, exposure, the one-event poll, the
// orderly stop when no window can be had, and the release at display shut-down; the enlarged window through the
// surface and through a renderer, the mouse in it, and the picture kept around a modal box.
#include "graph.h"
#include "os_platform.h"
#include "os_tools.h"
#include "platform_sdl.h"

#include <SDL.h>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::string log_text; // every log line since the fixture started

void collect_log(const char* line) { log_text += line; }

// A headless video driver of this SDL build, or null. "dummy" loads no graphics libraries.
const char* headless_driver() {
    for (const char* wanted : {"dummy", "offscreen"}) {
        for (int i = 0; i < SDL_GetNumVideoDrivers(); i++) {
            if (strcmp(SDL_GetVideoDriver(i), wanted) == 0) return wanted;
        }
    }
    return nullptr;
}

uint32_t pattern(int32_t x, int32_t y) { return 0xFF000000u | (uint32_t)(x * 977 + y * 131071) % 0xFFFFFFu; }

uint32_t surface_pixel(SDL_Surface* s, int32_t x, int32_t y) {
    return *(const uint32_t*)((const uint8_t*)s->pixels + (size_t)y * (size_t)s->pitch + (size_t)x * 4) & 0xFFFFFF;
}

class SdlPresent : public ::testing::Test {
protected:
    bool open = false;

    void SetUp() override {
        const char* driver = headless_driver();
        if (!driver) GTEST_SKIP() << "this SDL has no headless video driver";
        setenv("SDL_VIDEODRIVER", driver, 1);
        log_text.clear();
        os_log_sink = collect_log;
        g_init_display();
        open = true;
        ASSERT_NE(os_window(), nullptr);
        ASSERT_NE(g_composite, nullptr);
    }

    void TearDown() override {
        if (open) g_deinit_display();
        open = false;
        os_log_sink = nullptr;
        EXPECT_EQ(log_text.find("assert:"), std::string::npos) << log_text;
    }

    SDL_Surface* surface() { return SDL_GetWindowSurface(os_window()); }

    void fill_composite() {
        for (int32_t y = 0; y < G_HEIGHT; y++)
            for (int32_t x = 0; x < G_WIDTH; x++) g_composite[y * G_WIDTH + x] = pattern(x, y);
    }

    void present(g_rect r) {
        g_frame = r;
        os_present(G_WIDTH, G_HEIGHT);
        g_frame = g_rect{65535, 65535, 0, 0};
    }

    // Pixels inside r show the composite, all others still hold `outside`.
    void expect_only_rect(g_rect r, uint32_t outside) {
        SDL_Surface* s = surface();
        int32_t wrong = 0;
        for (int32_t y = 0; y < G_HEIGHT; y++) {
            for (int32_t x = 0; x < G_WIDTH; x++) {
                const bool in = x >= r.min_x && x < r.max_x && y >= r.min_y && y < r.max_y;
                const uint32_t want = in ? pattern(x, y) & 0xFFFFFF : outside;
                if (surface_pixel(s, x, y) != want && wrong++ < 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << " in=" << in;
            }
        }
        EXPECT_EQ(wrong, 0);
    }
};

TEST_F(SdlPresent, TheWindowIsTheProgramsWindow) {
    SDL_Window* w = os_window();
    EXPECT_STREQ(SDL_GetWindowTitle(w), "QuavloII");
    int width = 0, height = 0;
    SDL_GetWindowSize(w, &width, &height);
    EXPECT_EQ(width, 900);
    EXPECT_EQ(height, 520);
    EXPECT_EQ(SDL_GetWindowFlags(w) & SDL_WINDOW_RESIZABLE, 0u);
    SDL_Surface* s = surface();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->w, 900);
    EXPECT_EQ(s->h, 520);
    EXPECT_EQ(s->format->BytesPerPixel, 4);
    for (int32_t y = 0; y < 520; y += 7)
        for (int32_t x = 0; x < 900; x += 7) ASSERT_EQ(surface_pixel(s, x, y), 0u) << x << "," << y;
    const size_t a = log_text.find("g_init_display\n"), b = log_text.find("PLATFORM SDL2\n"),
                 c = log_text.find("RENDER SW\n");
    ASSERT_NE(b, std::string::npos) << log_text;
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
}

TEST_F(SdlPresent, OnlyTheFrameRectangleIsCopied) {
    SDL_FillRect(surface(), nullptr, 0x123456);
    fill_composite();
    const g_rect r{100, 50, 333, 91};
    present(r);
    expect_only_rect(r, 0x123456);
}

TEST_F(SdlPresent, AnEmptyFrameTouchesNothing) {
    SDL_FillRect(surface(), nullptr, 0x123456);
    fill_composite();
    present(g_rect{65535, 65535, 0, 0});
    present(g_rect{10, 10, 10, 20});
    present(g_rect{30, 40, 20, 50});
    expect_only_rect(g_rect{0, 0, 0, 0}, 0x123456);
}

TEST_F(SdlPresent, TheRectangleStaysInsideTheFrame) {
    SDL_FillRect(surface(), nullptr, 0x123456);
    fill_composite();
    present(g_rect{850, 500, 5000, 5000});
    expect_only_rect(g_rect{850, 500, 900, 520}, 0x123456);
    present(g_rect{-40, -40, 3, 2});
    SDL_Surface* s = surface();
    EXPECT_EQ(surface_pixel(s, 0, 0), pattern(0, 0) & 0xFFFFFF);
    EXPECT_EQ(surface_pixel(s, 2, 1), pattern(2, 1) & 0xFFFFFF);
    EXPECT_EQ(surface_pixel(s, 3, 1), 0x123456u);
}

TEST_F(SdlPresent, AFlipShowsWhatWasDrawn) {
    g_image& layer = g_layers[0];
    for (int32_t y = 200; y < 210; y++)
        for (int32_t x = 400; x < 450; x++) layer.pixels[y * G_WIDTH + x] = 0xFF00FF00;
    g_flip(); // the first flip shows the whole frame, every layer starts dirty
    SDL_Surface* s = surface();
    EXPECT_EQ(surface_pixel(s, 400, 200), 0x00FF00u);
    EXPECT_EQ(surface_pixel(s, 449, 209), 0x00FF00u);
    EXPECT_EQ(surface_pixel(s, 450, 209), 0u);
    SDL_FillRect(s, nullptr, 0x0000FF);
    g_mark_dirty(400, 200, 410, 205);
    g_flip();
    EXPECT_EQ(surface_pixel(s, 400, 200), 0x00FF00u);
    EXPECT_EQ(surface_pixel(s, 410, 200), 0x0000FFu);
    EXPECT_EQ(surface_pixel(s, 400, 205), 0x0000FFu);
}

TEST_F(SdlPresent, ExposureKeepsThePictureShown) {
    SDL_FillRect(surface(), nullptr, 0);
    fill_composite();
    present(g_rect{0, 0, 900, 520});
    // The composite outside a later frame rectangle holds only the bottom layer: exposure must not bring it back.
    memset(g_composite, 0, (size_t)G_WIDTH * G_HEIGHT * 4);
    SDL_Event e;
    memset(&e, 0, sizeof e);
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_EXPOSED;
    EXPECT_EQ(os_handle_event(&e), 0);
    fill_composite();
    expect_only_rect(g_rect{0, 0, 900, 520}, 0);
}

TEST_F(SdlPresent, AReplacedSurfaceGetsTheWholeFrameAndEveryLayerIsRedrawn) {
    fill_composite();
    for (g_rect& d : g_dirty) d = g_rect{65535, 65535, 0, 0};
    // SDL drops the window surface when the size changes; the next surface starts empty.
    SDL_SetWindowSize(os_window(), 901, 520);
    SDL_SetWindowSize(os_window(), 900, 520);
    for (int i = 0; i < 64; i++) os_poll_event();
    expect_only_rect(g_rect{0, 0, 900, 520}, 0);
    for (const g_rect& d : g_dirty) {
        EXPECT_EQ(d.min_x, 0);
        EXPECT_EQ(d.min_y, 0);
        EXPECT_EQ(d.max_x, 900);
        EXPECT_EQ(d.max_y, 520);
    }
}

TEST_F(SdlPresent, APollTakesAtMostOneEvent) {
    while (SDL_PollEvent(nullptr)) os_poll_event();
    SDL_Event e;
    memset(&e, 0, sizeof e);
    e.type = SDL_USEREVENT;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    e.type = SDL_QUIT;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    EXPECT_EQ(os_poll_event(), 0);
    EXPECT_EQ(os_poll_event(), 0);
    EXPECT_EQ(os_poll_event(), 1);
    EXPECT_EQ(os_poll_event(), 0);
}

TEST_F(SdlPresent, ShutDownReleasesTheWindow) {
    g_deinit_display();
    open = false;
    EXPECT_EQ(os_window(), nullptr);
    EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
    EXPECT_NE(log_text.find("g_deinit_display\n"), std::string::npos);
    // Presenting after shut-down is reported and does nothing.
    log_text.clear();
    g_frame = g_rect{0, 0, 900, 520};
    os_present(G_WIDTH, G_HEIGHT);
    g_frame = g_rect{65535, 65535, 0, 0};
    EXPECT_NE(log_text.find("assert:"), std::string::npos);
    log_text.clear();
    EXPECT_EQ(os_poll_event(), 0);
}

TEST(SdlCopy, ConvertsWhenTheSurfaceIsNot32BitXrgb) {
    static uint32_t frame[G_WIDTH * G_HEIGHT];
    for (uint32_t& p : frame) p = 0xFFFF0000; // opaque red
    frame[12 * G_WIDTH + 20] = 0xFF0000FF;    // one blue pixel

    SDL_Surface* rgb565 = SDL_CreateRGBSurfaceWithFormat(0, 64, 32, 16, SDL_PIXELFORMAT_RGB565);
    ASSERT_NE(rgb565, nullptr);
    SDL_FillRect(rgb565, nullptr, 0x07E0); // green
    EXPECT_EQ(os_copy_frame_rect(rgb565, frame, g_rect{10, 10, 30, 20}), 1);
    auto at16 = [&](int x, int y) {
        return ((const uint16_t*)((const uint8_t*)rgb565->pixels + y * rgb565->pitch))[x];
    };
    EXPECT_EQ(at16(10, 10), 0xF800);
    EXPECT_EQ(at16(29, 19), 0xF800);
    EXPECT_EQ(at16(20, 12), 0x001F);
    EXPECT_EQ(at16(9, 10), 0x07E0);
    EXPECT_EQ(at16(30, 10), 0x07E0);
    EXPECT_EQ(at16(10, 20), 0x07E0);
    // Clipped to the surface, which is smaller than the frame.
    EXPECT_EQ(os_copy_frame_rect(rgb565, frame, g_rect{60, 30, 900, 520}), 1);
    EXPECT_EQ(at16(63, 31), 0xF800);
    EXPECT_EQ(os_copy_frame_rect(rgb565, frame, g_rect{64, 0, 900, 520}), 0);
    SDL_FreeSurface(rgb565);

    SDL_Surface* abgr = SDL_CreateRGBSurfaceWithFormat(0, 40, 40, 32, SDL_PIXELFORMAT_ABGR8888);
    ASSERT_NE(abgr, nullptr);
    EXPECT_EQ(os_copy_frame_rect(abgr, frame, g_rect{0, 0, 40, 40}), 1);
    const uint32_t* px = (const uint32_t*)abgr->pixels;
    EXPECT_EQ(px[0] & 0xFFFFFF, 0x0000FFu); // red sits in the low byte of ABGR
    EXPECT_EQ(px[12 * (abgr->pitch / 4) + 20] & 0xFFFFFF, 0xFF0000u);
    SDL_FreeSurface(abgr);
}

// The window at 2x, presented through the window surface and through a renderer (SDL's software renderer, which
// the headless drivers can run): both must put the same enlarged pixels on the screen.
class SdlScaled : public SdlPresent, public ::testing::WithParamInterface<bool> {
protected:
    bool renderer() const { return GetParam(); }

    void SetUp() override {
        os_window_scale = 2;
        if (renderer()) {
            setenv("SDL_FRAMEBUFFER_ACCELERATION", "1", 1);
            setenv("SDL_RENDER_DRIVER", "software", 1);
        }
        SdlPresent::SetUp();
    }

    void TearDown() override {
        SdlPresent::TearDown();
        os_window_scale = 0;
        unsetenv("SDL_FRAMEBUFFER_ACCELERATION");
        unsetenv("SDL_RENDER_DRIVER");
    }

    // What the window shows, 0xRRGGBB per pixel, 1800 x 1040.
    std::vector<uint32_t> shown() {
        std::vector<uint32_t> out((size_t)1800 * 1040);
        if (renderer()) {
            SDL_Renderer* r = SDL_GetRenderer(os_window());
            EXPECT_NE(r, nullptr);
            if (r) {
                EXPECT_EQ(SDL_RenderReadPixels(r, nullptr, SDL_PIXELFORMAT_RGB888, out.data(), 1800 * 4), 0);
            }
            for (uint32_t& p : out) p &= 0xFFFFFF;
        } else {
            SDL_Surface* s = surface();
            for (int32_t y = 0; y < 1040; y++)
                for (int32_t x = 0; x < 1800; x++) out[(size_t)y * 1800 + x] = surface_pixel(s, x, y);
        }
        return out;
    }

    // Every window pixel shows the frame pixel under it: pattern inside r, `outside` elsewhere.
    void expect_enlarged(g_rect r, uint32_t (*outside)(int32_t, int32_t)) {
        const std::vector<uint32_t> px = shown();
        int32_t wrong = 0;
        for (int32_t y = 0; y < 1040; y++)
            for (int32_t x = 0; x < 1800; x++) {
                const int32_t fx = x / 2, fy = y / 2;
                const bool in = fx >= r.min_x && fx < r.max_x && fy >= r.min_y && fy < r.max_y;
                const uint32_t want = (in ? pattern(fx, fy) : outside(fx, fy)) & 0xFFFFFF;
                if (px[(size_t)y * 1800 + x] != want && wrong++ < 5)
                    ADD_FAILURE() << "window pixel " << x << "," << y << " in=" << in;
            }
        EXPECT_EQ(wrong, 0);
    }
};

uint32_t black(int32_t, int32_t) { return 0; }

TEST_P(SdlScaled, EveryFramePixelBecomesATwoByTwoSquare) {
    int width = 0, height = 0;
    SDL_GetWindowSize(os_window(), &width, &height);
    EXPECT_EQ(width, 1800);
    EXPECT_EQ(height, 1040);
    EXPECT_EQ(os_window_scale_in_use(), 2);
    EXPECT_EQ(os_renderer_in_use(), renderer() ? 1 : 0);
    EXPECT_NE(log_text.find(renderer() ? "SCALE 2 PRESENT software\n" : "SCALE 2 PRESENT SURFACE\n"), std::string::npos)
        << log_text;
    EXPECT_EQ(g_display.width, 900) << "the frame keeps its size";

    fill_composite();
    present(g_rect{0, 0, 900, 520});
    expect_enlarged(g_rect{0, 0, 900, 520}, black);
    // A later rectangle replaces only its own squares.
    for (int32_t i = 0; i < G_WIDTH * G_HEIGHT; i++) g_composite[i] = ~g_composite[i];
    const g_rect r{333, 101, 517, 250};
    present(r);
    for (int32_t i = 0; i < G_WIDTH * G_HEIGHT; i++) g_composite[i] = ~g_composite[i];
    const std::vector<uint32_t> px = shown();
    EXPECT_EQ(px[(size_t)(101 * 2) * 1800 + 333 * 2], ~pattern(333, 101) & 0xFFFFFF);
    EXPECT_EQ(px[(size_t)(249 * 2 + 1) * 1800 + 516 * 2 + 1], ~pattern(516, 249) & 0xFFFFFF);
    EXPECT_EQ(px[(size_t)(101 * 2) * 1800 + 332 * 2 + 1], pattern(332, 101) & 0xFFFFFF);
    EXPECT_EQ(px[(size_t)(250 * 2) * 1800 + 333 * 2], pattern(333, 250) & 0xFFFFFF);
}

TEST_P(SdlScaled, TheMouseIsReadInFramePixels) {
    SDL_Event e;
    memset(&e, 0, sizeof e);
    e.type = SDL_MOUSEMOTION;
    e.motion.x = 221;
    e.motion.y = 403;
    os_handle_event(&e);
    EXPECT_EQ(os_mouse_x, 110);
    EXPECT_EQ(os_mouse_y, 201);
    e.motion.x = 1799;
    e.motion.y = 1039;
    os_handle_event(&e);
    EXPECT_EQ(os_mouse_x, 899);
    EXPECT_EQ(os_mouse_y, 519);
}

TEST_P(SdlScaled, AModalBoxFindsTheLastFrameInPlace) {
    fill_composite();
    present(g_rect{0, 0, 900, 520});
    // The composite outside a later frame rectangle holds only the bottom layer: it must not come back.
    memset(g_composite, 0, (size_t)G_WIDTH * G_HEIGHT * 4);
    if (renderer()) {
        // Something else drew over the window's pixels: the renderer draws the kept frame again.
        SDL_Renderer* r = SDL_GetRenderer(os_window());
        SDL_SetRenderDrawColor(r, 255, 0, 0, 255);
        SDL_RenderClear(r);
    }
    os_show_last_frame();
    expect_enlarged(g_rect{0, 0, 900, 520}, black);

    // While the box is open only the window's own events are taken: an exposure is repainted, a key waits.
    while (SDL_PollEvent(nullptr)) os_poll_event();
    SDL_Event e;
    memset(&e, 0, sizeof e);
    e.type = SDL_KEYDOWN;
    e.key.keysym.scancode = SDL_SCANCODE_Q;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    memset(&e, 0, sizeof e);
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_EXPOSED;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    if (renderer()) SDL_RenderClear(SDL_GetRenderer(os_window()));
    os_keep_window_painted();
    expect_enlarged(g_rect{0, 0, 900, 520}, black);
    EXPECT_EQ(SDL_PeepEvents(&e, 1, SDL_PEEKEVENT, SDL_WINDOWEVENT, SDL_WINDOWEVENT), 0);
    ASSERT_EQ(SDL_PeepEvents(&e, 1, SDL_PEEKEVENT, SDL_KEYDOWN, SDL_KEYDOWN), 1);
    EXPECT_EQ(e.key.keysym.scancode, SDL_SCANCODE_Q);
    while (SDL_PollEvent(nullptr)) os_poll_event();
}

INSTANTIATE_TEST_SUITE_P(SurfaceAndRenderer, SdlScaled, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Renderer") : std::string("Surface");
                         });

// A window that fits the headless driver's 1024 x 768 display is shown at 1x without a request.
TEST_F(SdlPresent, WithoutARequestTheWindowFitsTheDisplay) {
    EXPECT_EQ(os_window_scale_in_use(), 1);
    EXPECT_EQ(os_renderer_in_use(), 0);
}

TEST(SdlCopy, EnlargesIntoAnyPixelFormat) {
    static uint32_t frame[G_WIDTH * G_HEIGHT];
    for (int32_t i = 0; i < G_WIDTH * G_HEIGHT; i++) frame[i] = 0xFF000000u | (i & 1 ? 0xFF0000u : 0x0000FFu);
    for (int32_t scale = 1; scale <= 3; scale++) {
        SDL_Surface* rgb565 = SDL_CreateRGBSurfaceWithFormat(0, 40, 31, 16, SDL_PIXELFORMAT_RGB565);
        ASSERT_NE(rgb565, nullptr);
        SDL_FillRect(rgb565, nullptr, 0x07E0);
        // Cut to the surface: 40 / scale columns and 31 / scale rows of the frame fit.
        EXPECT_EQ(os_copy_frame_scaled(rgb565, frame, g_rect{0, 0, 900, 520}, scale), 1);
        for (int32_t y = 0; y < 31; y++)
            for (int32_t x = 0; x < 40; x++) {
                const uint16_t got = ((const uint16_t*)((const uint8_t*)rgb565->pixels + y * rgb565->pitch))[x];
                const bool covered = x < 40 / scale * scale && y < 31 / scale * scale;
                const uint16_t want = !covered ? 0x07E0 : ((x / scale + y / scale * G_WIDTH) & 1) ? 0xF800 : 0x001F;
                ASSERT_EQ(got, want) << "scale " << scale << " at " << x << "," << y;
            }
        SDL_FreeSurface(rgb565);
    }
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, 8, 8, 32, SDL_PIXELFORMAT_RGB888);
    EXPECT_EQ(os_copy_frame_scaled(s, frame, g_rect{0, 0, 4, 4}, 4), 0) << "no scale beyond the largest";
    EXPECT_EQ(os_copy_frame_scaled(s, frame, g_rect{0, 0, 4, 4}, 0), 0);
    SDL_FreeSurface(s);
}

void open_window_without_video() {
    setenv("SDL_VIDEODRIVER", "no-such-video-driver", 1);
    g_display_info display{900, 520, 900, 520, 1};
    os_init_window(&display);
}

TEST(SdlWindowDeathTest, NoVideoMeansAClearMessageAndExitStatus1) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(open_window_without_video(), ::testing::ExitedWithCode(1),
                "QuavloII: the video system could not start");
}

} // namespace

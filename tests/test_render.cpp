// Images, PCX decoding, the embedded pictures, fonts and the drawing primitives, drawn into small targets so
// every clipped edge can be checked pixel by pixel.
#include "graph.h"
#include "graph_failure_png.h"
#include "log_capture.h"
#include "os_tools.h"
#include "pictures.h"

#include <array>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint32_t KEY = 0x00FF00FF;      // a decoded transparent pixel
constexpr uint32_t WHITE = 0xFFFFFFFF;    // opaque white
constexpr uint32_t BLACK = 0xFF000000;    // opaque black
constexpr uint32_t SENTINEL = 0xFF123456; // what a target holds before a primitive runs

// A PCX file as the program expects it: 128-byte header, the run-length stream, marker 12, 768-byte palette.
std::vector<uint8_t> make_pcx(int32_t width, int32_t height, const std::vector<uint8_t>& stream,
                              const std::vector<std::pair<int, uint32_t>>& colours) {
    std::vector<uint8_t> b(128 + stream.size() + 1 + 768, 0);
    b[0] = 10;
    b[1] = 5;
    b[2] = 1;
    b[3] = 8;
    b[8] = (uint8_t)(width - 1);
    b[9] = (uint8_t)((width - 1) >> 8);
    b[10] = (uint8_t)(height - 1);
    b[11] = (uint8_t)((height - 1) >> 8);
    b[65] = 1;
    b[66] = (uint8_t)width;
    b[67] = (uint8_t)(width >> 8);
    for (size_t i = 0; i < stream.size(); i++) b[128 + i] = stream[i];
    const size_t palette = 128 + stream.size() + 1;
    b[palette - 1] = 12;
    for (auto [index, rgb] : colours) {
        b[palette + index * 3] = (uint8_t)(rgb >> 16);
        b[palette + index * 3 + 1] = (uint8_t)(rgb >> 8);
        b[palette + index * 3 + 2] = (uint8_t)rgb;
    }
    return b;
}

// Decodes from a heap block of exactly the data's size, so that a read past the end shows under ASan.
g_image decode(const std::vector<uint8_t>& bytes, size_t size) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[size ? size : 1]);
    memcpy(exact.get(), bytes.data(), size);
    return g_load_pcx(exact.get(), (int32_t)size);
}
g_image decode(const std::vector<uint8_t>& bytes) { return decode(bytes, bytes.size()); }

bool is_zero_image(const g_image& image) {
    return image.width == 0 && image.height == 0 && image.pixels == nullptr && image.color_key == 0;
}

uint32_t px(const g_image& image, int32_t x, int32_t y) { return image.pixels[y * image.width + x]; }

class Render : public ::testing::Test {
protected:
    LogCapture log;
    g_image target = {};

    void SetUp() override { ASSERT_EQ(os_alloc_count, 0); }

    void TearDown() override {
        if (target.pixels) save_failure_png(target.pixels, target.width, target.height, 16);
        g_target = nullptr;
        if (target.pixels) g_free_image(&target);
        os_free_fill_buf();
        EXPECT_EQ(os_alloc_count, 0) << "a test left a tracked block behind";
    }

    // A small drawing target standing in for a layer, filled with SENTINEL, with an empty dirty rectangle.
    void use_target(int32_t width, int32_t height) {
        target = g_create_image(width, height);
        for (int32_t i = 0; i < width * height; i++) target.pixels[i] = SENTINEL;
        g_target = &target;
        g_target_index = 0;
        g_dirty[0] = {0xFFFF, 0xFFFF, 0, 0};
    }

    uint32_t at(int32_t x, int32_t y) const { return target.pixels[y * target.width + x]; }

    // Pixels of the target that no longer hold SENTINEL, as text rows ('.' untouched, '#' changed).
    std::string changed() const {
        std::string rows;
        for (int32_t y = 0; y < target.height; y++) {
            for (int32_t x = 0; x < target.width; x++) rows += at(x, y) == SENTINEL ? '.' : '#';
            rows += '\n';
        }
        return rows;
    }

    void expect_dirty(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        EXPECT_EQ(g_dirty[0].min_x, x0);
        EXPECT_EQ(g_dirty[0].min_y, y0);
        EXPECT_EQ(g_dirty[0].max_x, x1);
        EXPECT_EQ(g_dirty[0].max_y, y1);
    }
    void expect_not_dirty() { expect_dirty(0xFFFF, 0xFFFF, 0, 0); }
};

// ---- The embedded pictures

void expect_three_colours(const g_image& image) {
    int white = 0, black = 0, key = 0;
    for (int32_t i = 0; i < image.width * image.height; i++) {
        const uint32_t p = image.pixels[i];
        white += p == WHITE;
        black += p == BLACK;
        key += p == KEY;
        ASSERT_TRUE(p == WHITE || p == BLACK || p == KEY) << "pixel " << i << " is " << std::hex << p;
    }
    EXPECT_GT(white, 0);
    EXPECT_GT(black, 0);
    EXPECT_GT(key, 0);
}

constexpr std::array<std::array<int32_t, 2>, 4> NEIGHBOURS = {{{1, 0}, {-1, 0}, {0, 1}, {0, -1}}};

TEST_F(Render, TitlePictureDecodesTo512x50KeyedInThreeColours) {
    g_image title = g_load_pcx(quavlo_title_pcx, quavlo_title_pcx_size);
    ASSERT_NE(title.pixels, nullptr);
    EXPECT_EQ(title.width, 512);
    EXPECT_EQ(title.height, 50);
    EXPECT_EQ(title.bytes_per_pixel, 4);
    EXPECT_EQ(title.color_key, 1);
    expect_three_colours(title);
    // The lettering is outlined: no white pixel touches a transparent one.
    for (int32_t y = 1; y < 49; y++)
        for (int32_t x = 1; x < 511; x++)
            if (px(title, x, y) == WHITE) {
                for (const auto& [dx, dy] : NEIGHBOURS) ASSERT_NE(px(title, x + dx, y + dy), KEY) << x << "," << y;
            }
    EXPECT_EQ(log.asserts(), 0);
    g_free_image(&title);
}

TEST_F(Render, GlyphStripDecodesWithTransparentSpacingAndTail) {
    g_image strip = g_load_pcx(quavlo_glyphs_pcx, quavlo_glyphs_pcx_size);
    ASSERT_NE(strip.pixels, nullptr);
    EXPECT_EQ(strip.width, 420);
    EXPECT_EQ(strip.height, 10);
    EXPECT_EQ(strip.color_key, 1);
    expect_three_colours(strip);
    for (int32_t y = 0; y < 10; y++) {
        for (int32_t cell = 0; cell < 50; cell++) EXPECT_EQ(px(strip, cell * 8 + 7, y), KEY) << "cell " << cell;
        for (int32_t x = 400; x < 420; x++) EXPECT_EQ(px(strip, x, y), KEY) << x;
    }
    for (int32_t cell = 0; cell < 50; cell++) {
        int white = 0;
        for (int32_t y = 0; y < 10; y++)
            for (int32_t x = 0; x < 7; x++) white += px(strip, cell * 8 + x, y) == WHITE;
        EXPECT_GT(white, 0) << "cell " << cell << " is empty";
    }
    EXPECT_EQ(log.asserts(), 0);
    g_free_image(&strip);
}

// The committed strip is what glyphs.txt draws, in the order of g_font_char_set: every '#' is white, every
// '.' is black shading or transparent.
TEST_F(Render, GlyphStripMatchesItsReadableSource) {
    std::ifstream in(std::string(QUAVLO_SOURCE_DIR) + "/app/src/pictures/glyphs.txt");
    ASSERT_TRUE(in.good());
    g_image strip = g_load_pcx(quavlo_glyphs_pcx, quavlo_glyphs_pcx_size);
    ASSERT_NE(strip.pixels, nullptr);
    std::string line;
    int cell = -1, row = 0;
    std::string order;
    while (std::getline(in, line)) {
        if (line.empty() || line == "#" || line.rfind("# ", 0) == 0) continue;
        if (line[0] == '[') {
            const std::string name = line.substr(1, line.find(']') - 1);
            order += name.rfind("0x", 0) == 0 ? (char)std::stoi(name.substr(2, 2), nullptr, 16) : name[0];
            cell++;
            row = 0;
            continue;
        }
        ASSERT_EQ(line.size(), 8u);
        for (int32_t x = 0; x < 8; x++) {
            const uint32_t p = px(strip, cell * 8 + x, row);
            if (line[x] == '#')
                EXPECT_EQ(p, WHITE) << "cell " << cell << " row " << row << " column " << x;
            else
                EXPECT_NE(p, WHITE) << "cell " << cell << " row " << row << " column " << x;
        }
        row++;
    }
    EXPECT_EQ(order, std::string(g_font_char_set));
    g_free_image(&strip);
}

TEST_F(Render, ScalingRepeatsEveryPixelSideBySide) {
    g_image strip = g_load_pcx(quavlo_glyphs_pcx, quavlo_glyphs_pcx_size);
    g_image wide = g_scale_image(2, &strip);
    g_image copy = g_scale_image(1, &strip);
    ASSERT_NE(wide.pixels, nullptr);
    ASSERT_NE(copy.pixels, nullptr);
    EXPECT_EQ(wide.width, 840);
    EXPECT_EQ(wide.height, 10);
    EXPECT_EQ(wide.color_key, 1);
    EXPECT_EQ(copy.width, 420);
    EXPECT_EQ(copy.color_key, 1);
    EXPECT_NE(copy.pixels, strip.pixels);
    for (int32_t y = 0; y < 10; y++)
        for (int32_t x = 0; x < 420; x++) {
            ASSERT_EQ(px(wide, 2 * x, y), px(strip, x, y));
            ASSERT_EQ(px(wide, 2 * x + 1, y), px(strip, x, y));
            ASSERT_EQ(px(copy, x, y), px(strip, x, y));
        }
    g_free_image(&wide);
    g_free_image(&copy);
    g_free_image(&strip);
}

TEST_F(Render, StretchCopiesOnlyTheRequestedCornerAndRefusesOversizedRequests) {
    g_image source = g_create_image(3, 2);
    for (int32_t i = 0; i < 6; i++) source.pixels[i] = 0xFF000000u | (uint32_t)(i + 1);
    source.color_key = 1;
    g_image dest = g_create_image(7, 3);
    g_stretch_into(&dest, 2, 1, &source, 3);
    EXPECT_EQ(dest.color_key, 1);
    const uint32_t expect_row0[7] = {0xFF000001, 0xFF000001, 0xFF000001, 0xFF000002, 0xFF000002, 0xFF000002, 0};
    for (int32_t x = 0; x < 7; x++) EXPECT_EQ(dest.pixels[x], expect_row0[x]) << x;
    for (int32_t i = 7; i < 21; i++) EXPECT_EQ(dest.pixels[i], 0u) << i;

    // Wider than the destination holds: refused with an assertion, nothing written.
    memset(dest.pixels, 0, 7 * 3 * 4);
    g_stretch_into(&dest, 3, 2, &source, 3);
    EXPECT_GT(log.asserts(), 0);
    for (int32_t i = 0; i < 21; i++) EXPECT_EQ(dest.pixels[i], 0u) << i;
    g_free_image(&dest);
    g_free_image(&source);
}

// ---- PCX decoding

TEST_F(Render, RunBytesDecodeAsRunsOrSingleIndices) {
    // 0xC1 07: one pixel of index 7; 0xC0 05: no pixel, but the 05 is consumed; 0xBF: one pixel of index 191.
    const auto pcx =
        make_pcx(4, 1, {0xC1, 7, 0xC0, 5, 0xBF, 2}, {{7, 0x010203}, {191, 0x0A141E}, {2, 0x808080}, {5, 0xFFFFFF}});
    g_image image = decode(pcx);
    ASSERT_NE(image.pixels, nullptr);
    ASSERT_EQ(image.width, 4);
    EXPECT_EQ(image.pixels[0], 0xFF010203u);
    EXPECT_EQ(image.pixels[1], 0xFF0A141Eu);
    EXPECT_EQ(image.pixels[2], 0xFF808080u);
    // The stream ended one pixel short: the rest is palette index 0, and the shortfall is reported.
    EXPECT_EQ(image.pixels[3], 0xFF000000u);
    EXPECT_EQ(log.asserts(), 1);
    EXPECT_EQ(image.color_key, 0);
    g_free_image(&image);
}

TEST_F(Render, StreamRunsOnAcrossRowsAndMagentaBecomesTheKey) {
    // 3 x 2 pixels from one run of 4 and two single bytes; index 9 is magenta.
    const auto pcx = make_pcx(3, 2, {0xC4, 1, 9, 1}, {{1, 0x102030}, {9, 0xFF00FF}});
    g_image image = decode(pcx);
    ASSERT_NE(image.pixels, nullptr);
    EXPECT_EQ(image.height, 2);
    const uint32_t expect[6] = {0xFF102030, 0xFF102030, 0xFF102030, 0xFF102030, KEY, 0xFF102030};
    for (int i = 0; i < 6; i++) EXPECT_EQ(image.pixels[i], expect[i]) << i;
    EXPECT_EQ(image.color_key, 1);
    EXPECT_EQ(log.asserts(), 0);
    g_free_image(&image);
}

TEST_F(Render, RunCrossingTheImageEndIsCut) {
    // Five pixels of index 3 into a 2 x 2 image, then bytes that must not be decoded.
    auto pcx = make_pcx(2, 2, {0xC5, 3, 0xC3, 4}, {{3, 0x00FF00}, {4, 0xFFFFFF}});
    g_image image = decode(pcx);
    ASSERT_NE(image.pixels, nullptr);
    for (int i = 0; i < 4; i++) EXPECT_EQ(image.pixels[i], 0xFF00FF00u) << i;
    EXPECT_EQ(log.asserts(), 0);
    g_free_image(&image);

    // A run of 63 into a single pixel writes exactly one (ASan would see the rest land outside the block).
    pcx = make_pcx(1, 1, {0xFF, 3}, {{3, 0x00FF00}});
    image = decode(pcx);
    ASSERT_NE(image.pixels, nullptr);
    EXPECT_EQ(image.pixels[0], 0xFF00FF00u);
    g_free_image(&image);
}

TEST_F(Render, ShortStreamNeverReadsIntoThePaletteOrPastTheData) {
    // The stream stops after a run byte whose value byte is missing.
    auto pcx = make_pcx(4, 1, {0xC1, 7, 0xC2}, {{7, 0x445566}});
    g_image image = decode(pcx);
    ASSERT_NE(image.pixels, nullptr);
    EXPECT_EQ(image.pixels[0], 0xFF445566u);
    // 0xC2 is followed by the palette marker, which is not taken as the run's value.
    EXPECT_EQ(image.pixels[1], 0xFF000000u);
    EXPECT_EQ(log.asserts(), 1);
    g_free_image(&image);

    // No stream at all: a picture of palette index 0.
    log.clear();
    pcx = make_pcx(2, 1, {}, {{0, 0xFF00FF}});
    image = decode(pcx);
    ASSERT_NE(image.pixels, nullptr);
    EXPECT_EQ(image.pixels[0], KEY);
    EXPECT_EQ(image.pixels[1], KEY);
    EXPECT_EQ(log.asserts(), 1);
    g_free_image(&image);
}

TEST_F(Render, RefusedPicturesGiveAZeroImage) {
    const auto good = make_pcx(2, 1, {1, 1}, {{1, 0xFFFFFF}});
    struct Case {
        const char* what;
        int offset;
        uint8_t value;
    } cases[] = {{"manufacturer", 0, 11}, {"version 3", 1, 3}, {"two planes", 65, 2}, {"no planes", 65, 0}};
    for (const Case& c : cases) {
        auto pcx = good;
        pcx[c.offset] = c.value;
        log.clear();
        g_image image = decode(pcx);
        EXPECT_TRUE(is_zero_image(image)) << c.what;
        EXPECT_EQ(log.asserts(), 1) << c.what;
    }
    // Too short for a header and a palette, at several lengths down to a lone byte.
    for (size_t size : {1, 64, 127, 128, 128 + 767}) {
        log.clear();
        EXPECT_TRUE(is_zero_image(decode(good, size))) << size;
        EXPECT_GT(log.asserts(), 0) << size;
    }
    log.clear();
    EXPECT_TRUE(is_zero_image(g_load_pcx(nullptr, 900)));
    EXPECT_TRUE(is_zero_image(g_load_pcx(good.data(), 0)));
    EXPECT_TRUE(is_zero_image(g_load_pcx(good.data(), -5)));
    EXPECT_GE(log.asserts(), 3);
    EXPECT_EQ(os_alloc_count, 0);
}

TEST_F(Render, HugeDeclaredSizeIsRefusedBeforeAnythingIsAllocated) {
    auto pcx = make_pcx(2, 1, {1, 1}, {{1, 0xFFFFFF}});
    for (int i = 8; i < 12; i++) pcx[i] = 0xFF; // 65536 x 65536
    g_image image = decode(pcx);
    EXPECT_TRUE(is_zero_image(image));
    EXPECT_EQ(log.asserts(), 1);
    EXPECT_EQ(os_alloc_count, 0);

    // The largest accepted picture, 2048 x 2048, decodes (its stream is short, which is reported).
    pcx = make_pcx(2048, 2048, {0xC2, 1}, {{1, 0xFFFFFF}});
    log.clear();
    image = decode(pcx);
    ASSERT_NE(image.pixels, nullptr);
    EXPECT_EQ(image.pixels[1], WHITE);
    EXPECT_EQ(image.pixels[2], BLACK);
    g_free_image(&image);
}

TEST_F(Render, ImagesWithoutPixelsAreHandledSafely) {
    g_image none = {};
    EXPECT_TRUE(is_zero_image(g_scale_image(2, &none)));
    EXPECT_TRUE(is_zero_image(g_scale_image(2, nullptr)));
    EXPECT_TRUE(is_zero_image(g_create_image(0, 5)));
    EXPECT_TRUE(is_zero_image(g_create_image(-1, 5)));
    EXPECT_TRUE(is_zero_image(g_create_image(65536, 65536)));
    g_free_image(&none);
    EXPECT_GT(log.asserts(), 0);
    EXPECT_EQ(os_alloc_count, 0);
}

// ---- Fonts

TEST_F(Render, FontMapsTheCharacterSetToCells) {
    g_image strip = g_create_image(420, 10);
    for (int32_t cell_width : {8, 16}) {
        g_font font = g_create_font(&strip, cell_width);
        ASSERT_NE(font.glyphs, nullptr);
        EXPECT_EQ(font.image, &strip);
        EXPECT_EQ(font.cell_width, cell_width);
        EXPECT_EQ(font.cell_height, 10);
        EXPECT_EQ(font.advance, cell_width);
        EXPECT_EQ(font.x_offset, 0);
        EXPECT_EQ(font.y_offset, 0);
        EXPECT_EQ(font.glyphs['A'], 0);
        EXPECT_EQ(font.glyphs['B'], cell_width);
        EXPECT_EQ(font.glyphs[')'], 49 * cell_width);
        EXPECT_EQ(font.glyphs[0xC5], 26 * cell_width);
        EXPECT_EQ(font.glyphs[0xC4], 27 * cell_width);
        EXPECT_EQ(font.glyphs[0xD6], 28 * cell_width);
        EXPECT_EQ(font.glyphs['0'], 29 * cell_width);
        EXPECT_EQ(font.glyphs[' '], -1);
        EXPECT_EQ(font.glyphs['a'], -1);
        EXPECT_EQ(font.glyphs[0], -1);
        EXPECT_EQ(font.glyphs[254], -1);
        int mapped = 0;
        for (int c = 0; c < 255; c++) mapped += font.glyphs[c] >= 0;
        EXPECT_EQ(mapped, 50);
        g_free_font(&font);
        EXPECT_EQ(font.glyphs, nullptr);
    }
    EXPECT_EQ(log.asserts(), 0);
    g_font bad = g_create_font(&strip, 0);
    EXPECT_EQ(bad.glyphs, nullptr);
    EXPECT_EQ(log.asserts(), 1);
    g_free_image(&strip);
}

// ---- Fill

TEST_F(Render, FillIsClippedAtEveryEdgeWithoutSpilling) {
    use_target(6, 4);
    g_fill_rect(-10, -10, 12, 11, 0xFF0000FF);
    EXPECT_EQ(changed(), "##....\n"
                         "......\n"
                         "......\n"
                         "......\n");
    expect_dirty(0, 0, 2, 1);
    EXPECT_EQ(at(0, 0), 0xFF0000FFu);

    // Past the right edge: cut there, nothing in the next row's first columns.
    g_fill_rect(4, 1, 100, 1, 0xFF00FF00);
    // Past the bottom edge.
    g_fill_rect(1, 3, 2, 50, 0xFFFF0000);
    EXPECT_EQ(changed(), "##....\n"
                         "....##\n"
                         "......\n"
                         ".##...\n");
    expect_dirty(0, 0, 6, 4);
    EXPECT_EQ(at(5, 1), 0xFF00FF00u);
    EXPECT_EQ(at(0, 2), SENTINEL);
    g_free_image(&target);

    // Entirely outside, or empty: nothing drawn and nothing marked.
    use_target(6, 4);
    const int32_t outside[][4] = {{6, 0, 5, 5},
                                  {0, 4, 5, 5},
                                  {-5, 0, 5, 5},
                                  {0, -5, 5, 5},
                                  {1, 1, 0, 2},
                                  {1, 1, 2, -1},
                                  {INT32_MAX, 1, INT32_MAX, 1},
                                  {INT32_MIN, 1, 3, 1}};
    for (const auto& r : outside) g_fill_rect(r[0], r[1], r[2], r[3], 0xFFFFFFFF);
    EXPECT_EQ(changed(), "......\n......\n......\n......\n");
    expect_not_dirty();
}

TEST_F(Render, FillCoversTheWholeTargetAndStoresAlphaUnchanged) {
    use_target(5, 3);
    g_fill_rect(-1, -1, 7, 5, 0x00000000);
    for (int32_t i = 0; i < 15; i++) EXPECT_EQ(target.pixels[i], 0u);
    expect_dirty(0, 0, 5, 3);
    g_fill_rect(1, 1, 3, 1, 0x80FFFFFF);
    EXPECT_EQ(at(1, 1), 0x80FFFFFFu);
    EXPECT_EQ(at(3, 1), 0x80FFFFFFu);
    EXPECT_EQ(at(4, 1), 0u);
}

TEST_F(Render, FillBufferGrowsOnlyAndIsFreedOnRequest) {
    use_target(50, 2);
    g_fill_rect(0, 0, 10, 1, WHITE);
    g_fill_rect(0, 0, 5, 1, WHITE);
    g_fill_rect(0, 0, 40, 1, WHITE);
    EXPECT_EQ(log.count("os_get_fill_buf alloc : 40 bytes\n"), 1);
    EXPECT_EQ(log.count("os_get_fill_buf alloc : 160 bytes\n"), 1);
    EXPECT_EQ(log.count("os_get_fill_buf alloc"), 2);
    EXPECT_EQ(os_alloc_count, 2); // the target and the buffer
    void* scratch = os_get_fill_buf(0);
    EXPECT_NE(scratch, nullptr);
    EXPECT_EQ(os_get_fill_buf(160), scratch);
    os_free_fill_buf();
    EXPECT_EQ(os_alloc_count, 1);
    EXPECT_NE(os_get_fill_buf(0), nullptr);
    EXPECT_EQ(log.count("os_get_fill_buf alloc : 1 bytes\n"), 1);
}

TEST_F(Render, PrimitivesWithoutATargetDoNothing) {
    g_target = nullptr;
    g_fill_rect(0, 0, 5, 5, WHITE);
    g_image image = g_create_image(2, 2);
    g_draw_image(&image, 0, 0, 0, 2, 2);
    EXPECT_EQ(log.asserts(), 2);
    g_free_image(&image);
}

// ---- Images

// A 4 x 2 keyed image: opaque colours where the pattern has a letter, transparent elsewhere (the last column
// is transparent in both rows).
g_image keyed_image() {
    g_image image = g_create_image(4, 2);
    const uint32_t pixels[8] = {0xFF0000A1, KEY, 0xFF0000A3, KEY, 0xFF0000B1, 0xFF0000B2, 0x01000000, KEY};
    memcpy(image.pixels, pixels, sizeof pixels);
    image.color_key = 1;
    return image;
}

TEST_F(Render, KeyedImageLeavesTransparentPixelsUntouched) {
    use_target(6, 4);
    g_image image = keyed_image();
    g_draw_image(&image, 1, 1, 0, 4, 2);
    EXPECT_EQ(changed(), "......\n"
                         ".#.#..\n"
                         ".###..\n"
                         "......\n");
    EXPECT_EQ(at(1, 1), 0xFF0000A1u);
    EXPECT_EQ(at(3, 1), 0xFF0000A3u);
    EXPECT_EQ(at(2, 2), 0xFF0000B2u);
    EXPECT_EQ(at(3, 2), 0x01000000u); // any alpha but 0 is drawn, unchanged
    expect_dirty(1, 1, 5, 3);
    g_free_image(&image);
}

TEST_F(Render, KeyedImagePartlyOffTheTargetDrawsOnlyItsVisiblePart) {
    use_target(6, 4);
    g_image image = keyed_image();
    g_draw_image(&image, 4, 3, 0, 4, 2);   // right and bottom edges
    g_draw_image(&image, -2, -1, 0, 4, 2); // left and top edges
    EXPECT_EQ(changed(), "#.....\n"
                         "......\n"
                         "......\n"
                         "....#.\n");
    EXPECT_EQ(at(0, 0), 0x01000000u);
    EXPECT_EQ(at(4, 3), 0xFF0000A1u);
    expect_dirty(0, 0, 6, 4);
    g_free_image(&image);
}

TEST_F(Render, ImageSliceIsTakenFromTheSourceColumnAndClippedToTheImage) {
    use_target(6, 4);
    g_image image = keyed_image();
    // Columns 2..3 of the image; asked for 3 columns and 5 rows, the image only has 2 of each there.
    g_draw_image(&image, 0, 0, 2, 3, 5);
    EXPECT_EQ(changed(), "#.....\n#.....\n......\n......\n");
    EXPECT_EQ(at(0, 0), 0xFF0000A3u);
    expect_dirty(0, 0, 2, 2);
    // A negative source column moves the destination right and shortens the width.
    g_draw_image(&image, 2, 2, -1, 3, 2);
    EXPECT_EQ(at(3, 2), 0xFF0000A1u);
    EXPECT_EQ(at(4, 3), 0xFF0000B2u);
    EXPECT_EQ(at(2, 2), SENTINEL);
    g_free_image(&image);
}

TEST_F(Render, PlainImageCopiesWholeRowsClippedAtBothSides) {
    use_target(5, 3);
    g_image image = g_create_image(4, 2);
    for (int32_t i = 0; i < 8; i++) image.pixels[i] = (uint32_t)(0x10 + i); // alpha 0, but not keyed
    g_draw_image(&image, -1, 1, 0, 4, 2);
    g_draw_image(&image, 3, -1, 0, 4, 2);
    EXPECT_EQ(changed(), "...##\n"
                         "###..\n"
                         "###..\n");
    EXPECT_EQ(at(0, 1), 0x11u);
    EXPECT_EQ(at(2, 2), 0x17u);
    EXPECT_EQ(at(3, 0), 0x14u);
    EXPECT_EQ(at(4, 0), 0x15u);
    expect_dirty(0, 0, 5, 3);
    g_free_image(&image);
}

TEST_F(Render, ImageOutsideTheTargetIsNotDrawnOrMarked) {
    use_target(5, 3);
    g_image image = keyed_image();
    g_draw_image(&image, 5, 0, 0, 4, 2);
    g_draw_image(&image, 0, 3, 0, 4, 2);
    g_draw_image(&image, -5, 0, 0, 4, 2);
    g_draw_image(&image, 0, -3, 0, 4, 2);
    g_draw_image(&image, 0, 0, 4, 4, 2); // source column past the image
    g_draw_image(&image, 0, 0, 0, 0, 2);
    g_image none = {};
    g_draw_image(&none, 0, 0, 0, 4, 2);
    EXPECT_EQ(changed(), ".....\n.....\n.....\n");
    expect_not_dirty();
    g_free_image(&image);
}

// ---- Text

class Text : public Render {
protected:
    g_image strip = {}, strip_2x = {};
    g_font small = {}, large = {};

    void SetUp() override {
        Render::SetUp();
        strip = g_load_pcx(quavlo_glyphs_pcx, quavlo_glyphs_pcx_size);
        strip_2x = g_scale_image(2, &strip);
        small = g_create_font(&strip, 8);
        large = g_create_font(&strip_2x, 16);
    }
    void TearDown() override {
        g_free_font(&small);
        g_free_font(&large);
        g_free_image(&strip);
        g_free_image(&strip_2x);
        Render::TearDown();
    }

    // The glyph of cell k of a strip drawn at (x, y): opaque pixels copied, transparent ones untouched.
    void expect_glyph(const g_image& from, int32_t cell_width, int32_t k, int32_t x, int32_t y) {
        for (int32_t r = 0; r < 10; r++)
            for (int32_t c = 0; c < cell_width; c++) {
                const int32_t tx = x + c, ty = y + r;
                if (tx < 0 || ty < 0 || tx >= target.width || ty >= target.height) continue;
                const uint32_t s = px(from, k * cell_width + c, r);
                ASSERT_EQ(at(tx, ty), (s >> 24) ? s : SENTINEL) << "cell " << k << " at " << c << "," << r;
            }
    }
    int32_t changed_count() const {
        int32_t n = 0;
        for (int32_t i = 0; i < target.width * target.height; i++) n += target.pixels[i] != SENTINEL;
        return n;
    }
};

TEST_F(Text, GlyphsAreDrawnOneAdvanceApartAndGapsDrawNothing) {
    use_target(64, 12);
    g_draw_text("A B", &small, 2, 1);
    expect_glyph(strip, 8, 0, 2, 1);
    expect_glyph(strip, 8, 1, 18, 1);
    for (int32_t y = 0; y < 12; y++)
        for (int32_t x = 10; x < 18; x++) EXPECT_EQ(at(x, y), SENTINEL);
    expect_dirty(2, 1, 26, 11);
}

TEST_F(Text, CharactersWithoutGlyphsOnlyMoveThePen) {
    use_target(64, 12);
    g_draw_text("abc", &small, 0, 0);
    EXPECT_EQ(changed_count(), 0);
    expect_not_dirty();
    // Lower case, space, code 255 and a line feed each take one advance.
    g_draw_text("a \xFF\nZ", &small, 0, 1);
    expect_glyph(strip, 8, 25, 32, 1);
    expect_dirty(32, 1, 40, 11);
}

TEST_F(Text, CodesAboveAsciiUseTheirCells) {
    use_target(64, 12);
    g_draw_text("\xC5\xC4\xD6", &small, 0, 0);
    expect_glyph(strip, 8, 26, 0, 0);
    expect_glyph(strip, 8, 27, 8, 0);
    expect_glyph(strip, 8, 28, 16, 0);
}

TEST_F(Text, LargeFontCellIsTheSecondSixteenColumnsForB) {
    use_target(40, 12);
    g_draw_image(&strip_2x, 0, 0, 16, 16, 10);
    expect_glyph(strip_2x, 16, 1, 0, 0);
    g_fill_rect(0, 0, 40, 12, SENTINEL);
    g_draw_text("B)", &large, 3, 2);
    expect_glyph(strip_2x, 16, 1, 3, 2);
    expect_glyph(strip_2x, 16, 49, 19, 2);
}

TEST_F(Text, EachGlyphIsClippedOnItsOwn) {
    use_target(20, 8);
    g_draw_text("0123", &small, -4, -3);
    expect_glyph(strip, 8, 29, -4, -3);
    expect_glyph(strip, 8, 30, 4, -3);
    expect_glyph(strip, 8, 31, 12, -3);
    expect_dirty(0, 0, 20, 7);
    // A long line running far off the right edge stops drawing there without disturbing anything else.
    std::string line(5000, 'W');
    g_draw_text(line.c_str(), &small, 2, 0);
    EXPECT_EQ(g_dirty[0].max_x, 20);
}

TEST_F(Text, MissingFontOrTextIsReported) {
    use_target(20, 8);
    g_draw_text(nullptr, &small, 0, 0);
    g_draw_text("A", nullptr, 0, 0);
    g_font no_image = small;
    no_image.image = nullptr;
    g_draw_text("A", &no_image, 0, 0);
    EXPECT_GE(log.asserts(), 3);
    EXPECT_EQ(changed_count(), 0);
}

} // namespace

// The tracker's screen as the window shows it: status lines, order list, grid colours, cursor, selection,
// mutes, scrolling, playback and the buttons, checked on the presented pixels; and whole screens compared with
// the reference pictures in tests/screens (set QUAVLO_UPDATE_SCREENS=1 to rewrite them and docs/screenshot.png).
#include "app_fixture.h"
#include "png_write.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint32_t BACKGROUND = 0xFF0000FF;
constexpr uint32_t GRID = 0xFF000096;
constexpr uint32_t ROW = 0xFF00005A;
constexpr uint32_t ROW_4 = 0xFF500078;
constexpr uint32_t ROW_16 = 0xFF6464C8;
constexpr uint32_t YELLOW = 0xFFFFFF00;
constexpr uint32_t MUTED = 0xFF141414;
constexpr uint32_t SELECTED = 0xFFC8C8C8;
constexpr uint32_t CURSOR_VIEW = 0xFF8C8C8C;
constexpr uint32_t BUTTON = 0xFFFF0000;
constexpr uint32_t BUTTON_PRESSED = 0xFF640000;
constexpr uint32_t STRIP = 0xFF000064;
constexpr uint32_t ORDER_CURRENT = 0xFF6400FF;

// x of field j of channel c, where its background fill starts, and a point inside that fill below the text.
int32_t field_x(int32_t c, int32_t j) {
    static const int32_t offsets[5] = {0, 54, 76, 98, 136};
    return 168 + 180 * c + offsets[j] - 1;
}

} // namespace

class ScreenTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        step();
    }

    // Colour of the row background of field j, channel c at screen row y (below the glyphs).
    uint32_t field_colour(int32_t c, int32_t j, int32_t y) { return pixel(field_x(c, j) + 2, y + 12); }
    // Redraws the grid without changing anything: edit mode off and on again.
    void redraw() {
        tap(VK_SPACE);
        tap(VK_SPACE);
    }
    int32_t row_y(int32_t row) {
        const int32_t top = std::min(100, 287 - 15 * app.editor.cursor_row);
        return top + 15 * row;
    }

    // Draws text with a font into a scratch image of the window's width and checks that the window shows
    // exactly those glyph pixels at (x, y), over the given background.
    void expect_text(const char* text, const g_font* font, int32_t x, int32_t y, uint32_t background) {
        g_image scratch = g_create_image(G_WIDTH, font->cell_height);
        g_image* target = g_target;
        g_target = &scratch;
        g_fill_rect(0, 0, G_WIDTH, font->cell_height, background);
        g_draw_text(text, font, x, 0);
        g_target = target;
        const int32_t end = std::min<int32_t>(G_WIDTH, x + (int32_t)strlen(text) * font->advance);
        int mismatches = 0;
        for (int32_t r = 0; r < font->cell_height; r++)
            for (int32_t cx = x; cx < end; cx++)
                if (scratch.pixels[r * G_WIDTH + cx] != pixel(cx, y + r)) mismatches++;
        EXPECT_EQ(mismatches, 0) << "text \"" << text << "\" at " << x << "," << y;
        g_free_image(&scratch);
    }

    std::string screens_dir() { return std::string(QUAVLO_SOURCE_DIR) + "/tests/screens/"; }

    // Compares the window with a committed reference picture, pixel for pixel. A mismatch leaves the actual
    // screen next to the test binary for inspection.
    void expect_screen(const std::string& name) {
        const std::string ref = screens_dir() + name + ".png";
        if (getenv("QUAVLO_UPDATE_SCREENS")) {
            ASSERT_TRUE(png_write_argb(ref.c_str(), hl_window, G_WIDTH, G_HEIGHT));
            return;
        }
        int w = 0, h = 0, n = 0;
        stbi_uc* data = stbi_load(ref.c_str(), &w, &h, &n, 3);
        ASSERT_NE(data, nullptr) << "missing reference " << ref;
        ASSERT_EQ(w, G_WIDTH);
        ASSERT_EQ(h, G_HEIGHT);
        int mismatches = 0, first = -1;
        for (int i = 0; i < G_WIDTH * G_HEIGHT; i++) {
            const uint32_t want =
                0xFF000000u | (uint32_t)data[i * 3] << 16 | (uint32_t)data[i * 3 + 1] << 8 | (uint32_t)data[i * 3 + 2];
            if ((hl_window[i] | 0xFF000000u) != want) {
                mismatches++;
                if (first < 0) first = i;
            }
        }
        stbi_image_free(data);
        if (mismatches) {
            const std::string actual = std::string(QUAVLO_BINARY_DIR) + "/tests/screen-" + name + "-actual.png";
            png_write_argb(actual.c_str(), hl_window, G_WIDTH, G_HEIGHT);
            ADD_FAILURE() << name << ": " << mismatches << " pixels differ, first at " << first % G_WIDTH << ","
                          << first / G_WIDTH << "; actual screen saved as " << actual;
        }
    }

    // A short tune typed with the keyboard: two patterns, three order entries, notes, samples, volumes
    // and effects in every channel.
    void type_song() {
        const char* melody[4] = {"QWERTYUI", "ZXCVBNM", "2356", "Q"};
        for (int c = 0; c < 4; c++) {
            move_to(c * 5, 0);
            for (const char* k = melody[c]; *k; k++) {
                tap((uint8_t)*k);
                tap(VK_DOWN);
                tap(VK_DOWN);
                tap(VK_DOWN);
            }
            tap(fkey(2));
        }
        move_to(2, 0);
        type("F8C4");
        move_to(8, 4);
        type("37");
        move_to(9, 8);
        type("47");
        ctrl(fkey(3));
        ctrl('A');
        ctrl('A');
        ctrl(VK_RIGHT);
        ctrl(VK_UP);
        ctrl(VK_LEFT);
    }
};

TEST_F(ScreenTest, FreshStatusLinesAndOrderList) {
    expect_text("SAMPLE:0/7 (F1/F2) OCTAVE:4 (F3/F4) CHANNELS:F5-F8 PATTERN:0/0 (CTRL-F1/F2-F3 NEW-F4 DEL)",
                &app.font_small, 120, 79, BACKGROUND);
    expect_text("SONG PTR: 0/0 (CTRL-A ADD)(CTRL-ARROWS)(CTRL-D DEL)", &app.font_small, 120, 89, BACKGROUND);
    // The single entry 00 is highlighted; the strip runs on in its own colour.
    expect_text("00", &app.font_small, 122, 478, ORDER_CURRENT);
    EXPECT_EQ(pixel(120, 477), ORDER_CURRENT);
    EXPECT_EQ(pixel(143, 490), ORDER_CURRENT);
    EXPECT_EQ(pixel(144, 490), STRIP);
    EXPECT_EQ(pixel(889, 477), STRIP);
    EXPECT_EQ(pixel(890, 477), BACKGROUND);
    EXPECT_EQ(pixel(120, 491), BACKGROUND);
}

TEST_F(ScreenTest, StatusLinesFollowTheEditor) {
    tap(fkey(2));
    tap(fkey(3));
    ctrl(fkey(3));
    ctrl(fkey(2));
    ctrl('A');
    ctrl(VK_RIGHT);
    expect_text("SAMPLE:1/7 (F1/F2) OCTAVE:3 (F3/F4) CHANNELS:F5-F8 PATTERN:1/1 (CTRL-F1/F2-F3 NEW-F4 DEL)",
                &app.font_small, 120, 79, BACKGROUND);
    expect_text("SONG PTR: 1/1 (CTRL-A ADD)(CTRL-ARROWS)(CTRL-D DEL)", &app.font_small, 120, 89, BACKGROUND);
    expect_text("00", &app.font_small, 122, 478, STRIP);
    expect_text("00", &app.font_small, 146, 478, ORDER_CURRENT);
}

TEST_F(ScreenTest, FreshGridHasRowZeroAtTheTopWithTheCursorInYellow) {
    expect_text("00", &app.font_large, 120, 100, GRID);
    expect_text("---", &app.font_large2, 168, 100, YELLOW);
    EXPECT_EQ(pixel(167, 100), YELLOW);
    EXPECT_EQ(pixel(220, 114), YELLOW);
    EXPECT_EQ(pixel(221, 114), ROW_16);
    EXPECT_EQ(pixel(166, 114), GRID);
    expect_text("-", &app.font_large, 222, 100, ROW_16);
    expect_text("--", &app.font_large, 266, 100, ROW_16);
    expect_text("18", &app.font_large, 120, 100 + 15 * 24, GRID);
    // Outside edit mode the cursor is grey.
    tap(VK_SPACE);
    EXPECT_EQ(pixel(167, 112), CURSOR_VIEW);
    expect_text("---", &app.font_large, 168, 100, CURSOR_VIEW);
}

TEST_F(ScreenTest, RowColoursMarkEveryFourthAndSixteenthRow) {
    for (int32_t r = 0; r <= 24; r++) {
        const uint32_t want = r % 16 == 0 ? ROW_16 : r % 4 == 0 ? ROW_4 : ROW;
        for (int32_t c = 0; c < 4; c++) EXPECT_EQ(field_colour(c, 1, row_y(r)), want) << c << " " << r;
    }
    // Between the channels, and below the last row, the grid background shows.
    EXPECT_EQ(pixel(field_x(1, 0) - 3, 112), GRID);
    EXPECT_EQ(pixel(field_x(3, 4) + 38, 112), GRID);
}

TEST_F(ScreenTest, FieldsShowTheirValues) {
    *snd_cell_field(pat(), 1, SND_FIELD_NOTE, 2) = 0x41;
    *snd_cell_field(pat(), 1, SND_FIELD_SAMPLE, 2) = 3;
    *snd_cell_field(pat(), 1, SND_FIELD_EFFECT, 2) = 0x0F;
    *snd_cell_flags(pat(), 1, 2) = SND_HAS_NOTE | SND_HAS_SAMPLE | SND_HAS_EFFECT;
    redraw();
    const int32_t y = row_y(2);
    expect_text("C#4", &app.font_large, field_x(1, 0) + 1, y, ROW);
    expect_text("3", &app.font_large, field_x(1, 1) + 1, y, ROW);
    expect_text("-", &app.font_large, field_x(1, 2) + 1, y, ROW);
    expect_text("0F", &app.font_large, field_x(1, 3) + 1, y, ROW);
    expect_text("--", &app.font_large, field_x(1, 4) + 1, y, ROW);
}

TEST_F(ScreenTest, MutedChannelIsGreyOnEveryRow) {
    tap(fkey(6));
    for (int32_t r = 0; r <= 24; r++) {
        EXPECT_EQ(field_colour(1, 1, row_y(r)), MUTED) << r;
        EXPECT_EQ(field_colour(2, 1, row_y(r)), r % 16 == 0 ? ROW_16 : r % 4 == 0 ? ROW_4 : ROW) << r;
    }
    // Selected fields and the cursor keep their colours in a muted channel.
    tap(fkey(5));
    move_to(0, 3);
    down(VK_SHIFT);
    step();
    up(VK_SHIFT);
    move_to(1, 5);
    redraw();
    EXPECT_EQ(field_colour(0, 0, row_y(4)), SELECTED);
    EXPECT_EQ(field_colour(0, 1, row_y(5)), YELLOW);
    EXPECT_EQ(field_colour(0, 1, row_y(6)), MUTED);
}

TEST_F(ScreenTest, SelectionHighlightsWholeChannelsDownToTheCursor) {
    move_to(6, 2);
    down(VK_SHIFT);
    step();
    tap(VK_DOWN);
    tap(VK_DOWN);
    for (int i = 0; i < 6; i++) tap(VK_RIGHT);
    up(VK_SHIFT);
    EXPECT_EQ(app.editor.cursor_col, 12);
    for (int32_t r = 1; r <= 5; r++)
        for (int32_t c = 0; c < 4; c++)
            for (int32_t j = 0; j < 5; j++) {
                const bool in = r >= 2 && r <= 4 && c >= 1 && c <= 2;
                const bool cursor = r == 4 && c * 5 + j == 12;
                const uint32_t row = r % 4 == 0 ? ROW_4 : ROW;
                EXPECT_EQ(field_colour(c, j, row_y(r)), cursor ? YELLOW : in ? SELECTED : row) << c << j << r;
            }
    // Cursor above the anchor: nothing is highlighted.
    down(VK_SHIFT);
    tap(VK_UP);
    tap(VK_UP);
    tap(VK_UP);
    up(VK_SHIFT);
    EXPECT_EQ(field_colour(1, 0, row_y(2)), ROW);
}

TEST_F(ScreenTest, CursorOnRowFortyScrollsTheGrid) {
    move_to(0, 40);
    redraw();
    EXPECT_EQ(row_y(40), 287);
    expect_text("28", &app.font_large, 120, 287, GRID);
    expect_text("1C", &app.font_large, 120, 287 - 15 * 12, GRID);
    expect_text("33", &app.font_large, 120, 287 + 15 * 11, GRID);
    EXPECT_EQ(pixel(200, 287 + 12), YELLOW);
    EXPECT_EQ(field_colour(0, 1, row_y(32)), ROW_16);
    EXPECT_EQ(field_colour(0, 1, row_y(48)), ROW_16);
    EXPECT_EQ(field_colour(0, 1, row_y(28)), ROW_4);
    // Row 27 would start above the window: the top seven lines show the grid background.
    EXPECT_EQ(pixel(field_x(0, 1) + 2, 103), GRID);
    EXPECT_EQ(pixel(60, 300), BACKGROUND) << "the interface layer is untouched";
    // Row 52 shows only its top, down to the order strip.
    EXPECT_EQ(pixel(field_x(0, 1) + 2, 474), ROW_4);
    EXPECT_EQ(pixel(field_x(0, 1) + 2, 477), STRIP);
}

TEST_F(ScreenTest, PlayedRowIsYellowAndTheCursorHidden) {
    tap(VK_SPACE); // a cursor would be grey
    move_to(1, 0);
    tap(fkey(8));
    tap(VK_RETURN);
    play_blocks(3 + 2 * 2);
    step();
    EXPECT_EQ(app.editor.cursor_row, 2);
    for (int32_t c = 0; c < 3; c++) {
        EXPECT_EQ(field_colour(c, 1, row_y(2)), YELLOW) << c;
        EXPECT_EQ(field_colour(c, 1, row_y(1)), ROW) << c;
    }
    EXPECT_EQ(field_colour(3, 1, row_y(2)), MUTED);
    // The grid scrolls with the played row.
    play_blocks(2 * 18);
    step();
    EXPECT_EQ(app.editor.cursor_row, 20);
    EXPECT_EQ(row_y(20), 287);
    EXPECT_EQ(field_colour(0, 1, 287), YELLOW);
    EXPECT_EQ(field_colour(0, 1, 287 - 15), ROW);
    tap(VK_RETURN);
    EXPECT_EQ(field_colour(0, 1, 287), CURSOR_VIEW) << "the cursor is back once stopped";
}

// While a song plays, a step redraws and presents the pattern view only when the played row or a mute changed.
TEST_F(ScreenTest, PlayingPresentsOnlyWhenThePlayedRowOrAMuteChanges) {
    tap(VK_RETURN);
    play_blocks(3 + 2 * 2);
    step();
    const int32_t row = app.editor.cursor_row;
    int32_t before = hl_presents;
    step(4);
    EXPECT_EQ(hl_presents, before) << "the played row stood still";
    play_blocks(2);
    step(3);
    EXPECT_EQ(app.editor.cursor_row, row + 1);
    EXPECT_EQ(hl_presents, before + 1);
    EXPECT_GE(hl_present_y0, 100); // the grid alone, not the whole frame
    EXPECT_LT(hl_present_y1, G_HEIGHT);
    before = hl_presents;
    tap(fkey(5));
    step(2);
    EXPECT_EQ(hl_presents, before + 1);
    EXPECT_EQ(field_colour(0, 1, row_y(row + 1)), MUTED);
    tap(VK_RETURN);
}

TEST_F(ScreenTest, AfterAStopTheGridShowsThePatternTheStatusLineNames) {
    ctrl(fkey(3));
    ctrl(VK_UP); // the order list plays pattern 1
    *snd_cell_flags(pat(1), 0, 0) = SND_HAS_NOTE;
    *snd_cell_field(pat(1), 0, SND_FIELD_NOTE, 0) = 0x40;
    tap(VK_RETURN);
    play_blocks(3);
    step();
    EXPECT_EQ(app.song.pattern, 1);
    tap(VK_RETURN);
    tap(VK_DOWN);
    expect_text("C-4", &app.font_large, 168, 100, ROW_16); // the pattern that played stays in view after the stop
    ctrl(fkey(1));
    EXPECT_EQ(app.song.pattern, 0);
    expect_text("SAMPLE:0/7 (F1/F2) OCTAVE:4 (F3/F4) CHANNELS:F5-F8 PATTERN:0/1 (CTRL-F1/F2-F3 NEW-F4 DEL)",
                &app.font_small, 120, 79, BACKGROUND);
    expect_text("---", &app.font_large, 168, 100, ROW_16); // pattern 0, where entries now go
    move_to(5, 3);
    type("E");
    EXPECT_EQ(*snd_cell_flags(pat(0), 1, 3), SND_HAS_NOTE | SND_HAS_SAMPLE);
    EXPECT_EQ(*snd_cell_flags(pat(1), 1, 3), 0);
    expect_text("E-4", &app.font_large, 348, 100 + 15 * 3, ROW);
    ctrl(fkey(2));
    expect_text("C-4", &app.font_large, 168, 100, ROW_16);
    ctrl(fkey(4));
    EXPECT_EQ(app.song.pattern_count, 1);
    expect_text("---", &app.font_large, 168, 100, ROW_16);
    expect_text("E-4", &app.font_large, 348, 100 + 15 * 3, ROW);
}

TEST_F(ScreenTest, ButtonHeldForASecondFiresOnceAndShowsPressed) {
    EXPECT_EQ(pixel(8, 138), BUTTON);
    expect_text("LOAD", &app.font_large, 23, 145, BUTTON);
    int32_t press_at_dialog = -1;
    hl_on_modal = [&] { press_at_dialog = app.btn_load.press_frames; };
    hl_push_mouse_move(50, 150);
    hl_push_mouse_button(true);
    pump();
    step();
    EXPECT_EQ(pixel(8, 138), BUTTON_PRESSED);
    expect_text("LOAD", &app.font_large, 23, 145, BUTTON_PRESSED);
    EXPECT_EQ(hl_dialogs, 0) << "the action fires in the step after the press";
    step(40);
    EXPECT_EQ(hl_dialogs, 1);
    EXPECT_EQ(press_at_dialog, 1);
    hl_push_mouse_button(false);
    pump();
    step();
    EXPECT_EQ(pixel(8, 138), BUTTON);
    EXPECT_EQ(app.btn_load.press_frames, 0);
}

TEST_F(ScreenTest, HeldButtonWithoutADialogAlsoFiresOnce) {
    hl_push_mouse_move(50, 115);
    hl_push_mouse_button(true);
    pump();
    step();
    EXPECT_EQ(pixel(8, 103), BUTTON_PRESSED);
    *snd_cell_flags(pat(), 0, 0) = SND_HAS_NOTE;
    step();
    EXPECT_EQ(*snd_cell_flags(pat(), 0, 0), 0) << "NEW replaced the song";
    *snd_cell_flags(pat(), 0, 0) = SND_HAS_NOTE;
    step(40);
    EXPECT_EQ(*snd_cell_flags(pat(), 0, 0), SND_HAS_NOTE) << "holding does not repeat";
    EXPECT_EQ(app.btn_new.press_frames, 42);
    // Dragging out and back in while held is a new press.
    hl_push_mouse_move(200, 115);
    pump();
    step();
    hl_push_mouse_move(50, 115);
    pump();
    step(2);
    EXPECT_EQ(*snd_cell_flags(pat(), 0, 0), 0);
    hl_push_mouse_button(false);
    pump();
    step();
}

TEST_F(ScreenTest, PressOutsideTheButtonsFiresNothingButRedrawsTheInterface) {
    hl_push_mouse_move(60, 400);
    hl_push_mouse_button(true);
    pump();
    for (int i = 0; i < 5; i++) {
        const int32_t before = hl_presents;
        step();
        EXPECT_EQ(hl_presents, before + 1);
        EXPECT_EQ(hl_present_x0, 0);
        EXPECT_EQ(hl_present_y0, 0);
        EXPECT_EQ(hl_present_x1, G_WIDTH);
        EXPECT_EQ(hl_present_y1, G_HEIGHT);
    }
    hl_push_mouse_button(false);
    pump();
    step();
    const int32_t before = hl_presents;
    step(3);
    EXPECT_EQ(hl_presents, before) << "an idle step presents nothing";
    EXPECT_EQ(hl_dialogs, 0);
    EXPECT_EQ(app.song.pattern_count, 1);
    EXPECT_EQ(std::string(app.btn_wav.label), "WAV");
}

TEST_F(ScreenTest, EdgePixelsOfAButtonAreNotInside) {
    // The press test is strict on every side: the border line itself is outside.
    hl_push_mouse_move(5, 115);
    hl_push_mouse_button(true);
    pump();
    step();
    EXPECT_EQ(app.btn_new.press_frames, 0);
    hl_push_mouse_move(6, 101);
    pump();
    step();
    EXPECT_EQ(app.btn_new.press_frames, 1);
    hl_push_mouse_move(104, 129);
    pump();
    step();
    EXPECT_EQ(app.btn_new.press_frames, 2);
    hl_push_mouse_move(104, 130);
    pump();
    step();
    EXPECT_EQ(app.btn_new.press_frames, 0);
    hl_push_mouse_button(false);
    pump();
    step();
}

TEST_F(ScreenTest, WavButtonShowsStopWhileRecording) {
    click(app.btn_wav);
    expect_text("STOP", &app.font_large, 23, 215, BUTTON);
    click(app.btn_wav);
    expect_text("WAV", &app.font_large, 31, 215, BUTTON);
}

TEST_F(ScreenTest, LongOrderListRunsToTheLayersEdge) {
    for (int i = 0; i < 40; i++) snd_insert_order(&app.song, app.song.order_len);
    app.song.order[37] = 12;
    app.song.order_pos = 37;
    ctrl(VK_LEFT);
    ctrl(VK_RIGHT);
    EXPECT_EQ(app.song.order_pos, 37);
    // Entry 32 starts at x 120 + 32 * 24, beyond the strip; entry 37 would start past the layer.
    expect_text("00 ", &app.font_small, 122 + 32 * 24, 478, BACKGROUND);
    expect_text("00 ", &app.font_small, 122 + 31 * 24, 478, STRIP);
    EXPECT_EQ(pixel(120 + 32 * 24 + 1, 490), STRIP);
    EXPECT_EQ(pixel(120 + 32 * 24 + 2, 490), BACKGROUND);
}

TEST_F(ScreenTest, BrokenNoteBytesDrawNothingButDoNotCrash) {
    *snd_cell_field(pat(), 2, SND_FIELD_NOTE, 1) = 0xFC; // semitone 12, octave 15
    *snd_cell_field(pat(), 2, SND_FIELD_NOTE, 2) = 0xF1; // octave 15
    *snd_cell_flags(pat(), 2, 1) = SND_HAS_NOTE;
    *snd_cell_flags(pat(), 2, 2) = 0xFF;
    redraw();
    expected_asserts = log.asserts();
    EXPECT_GE(expected_asserts, 1);
    EXPECT_EQ(pixel(field_x(2, 0) + 5, row_y(1) + 5), ROW) << "no text for semitone 12";
}

TEST_F(ScreenTest, ReferenceScreens) {
    expect_screen("fresh");

    type_song();
    move_to(5, 2);
    down(VK_SHIFT);
    step();
    up(VK_SHIFT);
    move_to(11, 6);
    tap(fkey(8));
    redraw();
    expect_screen("song");
    if (getenv("QUAVLO_UPDATE_SCREENS")) {
        const std::string shot = std::string(QUAVLO_SOURCE_DIR) + "/docs/screenshot.png";
        ASSERT_TRUE(png_write_argb(shot.c_str(), hl_window, G_WIDTH, G_HEIGHT));
    }

    tap(fkey(8));
    tap(VK_LEFT);
    tap(VK_RETURN);
    play_blocks(3 + 2 * 30);
    step();
    expect_screen("playing");
}

// F9 shows the keys and the effects over the grid; Escape or F9 closes it, and the screen is as it was, pixel
// for pixel. Keys other than those two do nothing while it is open.
// The example tune opened from a song link, as the browser's page shows it: the web tests compare the page's
// canvas with this screen, pixel for pixel.
TEST_F(ScreenTest, SongOpenedFromALink) {
    const std::string tune = std::string(QUAVLO_SOURCE_DIR) + "/examples/tune.qvl";
    app_lock();
    ASSERT_TRUE(app_file_load_from(tune.c_str()));
    app_unlock();
    step();
    expect_screen("tune_link");
}

TEST_F(ScreenTest, HelpScreenOpensOverTheGridAndLeavesNoTrace) {
    type_song();
    redraw();
    const std::vector<uint32_t> before(hl_window, hl_window + G_WIDTH * G_HEIGHT);
    const int32_t undo_steps = app_undo_depth();

    ctrl('4');
    tap(fkey(9));
    EXPECT_EQ(app.help_open, 1);
    expect_screen("help");
    expect_text("CTRL+0-8        EDIT STEP: 4 ROWS", &app.font_small, 128, 268, STRIP);
    tap('Q');
    tap(VK_DELETE);
    tap(VK_DOWN);
    ctrl('Z');
    EXPECT_EQ(app_undo_depth(), undo_steps) << "keys reached the editor under the help screen";
    expect_screen("help");
    tap(VK_ESCAPE);
    EXPECT_EQ(app.help_open, 0);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), hl_window)) << "Escape left a trace of the help screen";

    tap(fkey(9));
    tap(fkey(9));
    EXPECT_EQ(app.help_open, 0);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), hl_window)) << "F9 left a trace of the help screen";
}

// With the order list 00 00 01 01, the status line and the strip name the entry being played, not only the entry
// where the pattern number last changed; Enter after a stop starts from the entry they show.
TEST_F(ScreenTest, OrderPositionOnScreenFollowsTheEntryBeingPlayed) {
    ctrl(fkey(3));
    for (int i = 0; i < 3; i++) ctrl('A');
    for (int i = 0; i < 2; i++) ctrl(VK_RIGHT);
    ctrl(VK_UP);
    ctrl(VK_RIGHT);
    ctrl(VK_UP);
    for (int i = 0; i < 3; i++) ctrl(VK_LEFT);
    ASSERT_EQ(app.song.order_pos, 0);
    tap(VK_RETURN);
    const struct {
        int blocks;    // blocks handed back since the last check
        int32_t entry; // the entry then being played
    } checks[] = {{3 + 2 * 10, 0}, {2 * 54, 1}, {2 * 64, 2}, {2 * 64, 3}, {2 * 64, 0}};
    for (const auto& c : checks) {
        play_blocks(c.blocks);
        step();
        ASSERT_EQ(app.song.order_pos, c.entry);
        char status[64];
        snprintf(status, sizeof status, "SONG PTR: %d/3 (CTRL-A ADD)(CTRL-ARROWS)(CTRL-D DEL)", c.entry);
        expect_text(status, &app.font_small, 120, 89, BACKGROUND);
        for (int32_t i = 0; i < 4; i++)
            expect_text(i == 2 || i == 3 ? "01" : "00", &app.font_small, 122 + 24 * i, 478,
                        i == c.entry ? ORDER_CURRENT : STRIP);
    }
    play_blocks(2 * 64); // into entry 1
    step();
    tap(VK_RETURN);
    expect_text("SONG PTR: 1/3 (CTRL-A ADD)(CTRL-ARROWS)(CTRL-D DEL)", &app.font_small, 120, 89, BACKGROUND);
    tap(VK_RETURN);
    EXPECT_EQ(app.song.order_pos, 1) << "playback starts from the entry shown";
    play_blocks(3);
    step();
    EXPECT_EQ(app.song.row, 0);
    EXPECT_EQ(app.song.order_pos, 1);
    tap(VK_RETURN);
}

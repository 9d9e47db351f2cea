// The tracker's screen: layer 1 holds the background, title, status lines, buttons and order list around a
// transparent window; layer 0 holds the pattern grid seen through it. Each layer is redrawn only when
// something on it changed. Also detects clicks on the buttons. Main thread. What the audio thread moves (the played
// position, the channels' patterns, the mutes) is copied with audio_lock held for that moment; the drawing itself
// runs without the lock, since only the main thread changes the song's tables and cells.
#include "app.h"

#include "os_platform.h"
#include "os_tools.h"

#include <cstdio>
#include <cstring>

// What the pattern view shows of the player's state, copied under audio_lock; while a song plays, the view is
// redrawn only when this changes (or the editor marks it), not at every step.
struct app_play_view {
    int32_t row;                      // the played row, -1 while nothing plays
    snd_pattern* shown[SND_CHANNELS]; // the pattern each channel column shows
    uint8_t muted[SND_CHANNELS];      // 1 for a muted channel
    uint8_t stopped;                  // the song is stopped: the cursor is drawn
};

int32_t status_pattern = -1;    // the song's current pattern as of the last interface drawing
int32_t status_order_pos = -1;  // the song's order position as of the last interface drawing
static app_play_view app_shown; // the player's state as the pattern view last showed it

static constexpr uint32_t APP_BACKGROUND = 0xFF0000FF;
static constexpr uint32_t APP_BUTTON = 0xFFFF0000;
static constexpr uint32_t APP_BUTTON_PRESSED = 0xFF640000;
static constexpr uint32_t APP_ORDER_STRIP = 0xFF000064;
static constexpr uint32_t APP_ORDER_CURRENT = 0xFF6400FF;
static constexpr uint32_t APP_GRID = 0xFF000096;
static constexpr uint32_t APP_ROW = 0xFF00005A;
static constexpr uint32_t APP_ROW_4 = 0xFF500078;
static constexpr uint32_t APP_ROW_16 = 0xFF6464C8;
static constexpr uint32_t APP_ROW_PLAYED = 0xFFFFFF00;
static constexpr uint32_t APP_ROW_MUTED = 0xFF141414;
static constexpr uint32_t APP_SELECTED = 0xFFC8C8C8;
static constexpr uint32_t APP_CURSOR_EDIT = 0xFFFFFF00;
static constexpr uint32_t APP_CURSOR_VIEW = 0xFF8C8C8C;

static constexpr int32_t APP_GRID_X = 120;
static constexpr int32_t APP_GRID_Y = 100;
static constexpr int32_t APP_GRID_W = 770;
static constexpr int32_t APP_GRID_H = 375;
static constexpr int32_t APP_ROW_H = 15;
static constexpr int32_t APP_CURSOR_Y = 287; // y of the cursor row once the grid scrolls

static void app_select_layer(int32_t i) {
    g_target = &g_layers[i];
    g_target_index = i;
}

void app_draw_button(ui_button* b) {
    OS_ASSERT(b != nullptr);
    if (!b) return;
    app_editor& ed = app.editor;
    uint32_t colour = APP_BUTTON;
    if (os_mouse_down && b->x < os_mouse_x && os_mouse_x < b->x + b->width && b->y < os_mouse_y &&
        os_mouse_y < b->y + b->height) {
        b->press_frames++;
        ed.status_dirty = 1;
        colour = APP_BUTTON_PRESSED;
    } else {
        b->press_frames = 0;
    }
    g_fill_rect(b->x, b->y, b->width, b->height, colour);
    const g_font& f = app.font_large;
    const char* label = b->label ? b->label : "";
    g_draw_text(label, &f, b->x + (b->width - os_strlen(label) * f.advance) / 2,
                b->y + (b->height - f.cell_height) / 2);
}

void app_draw_interface() {
    app_editor& ed = app.editor;
    const snd_song& s = app.song;
    // The player moves both while the song plays: the status lines and the order strip follow the entry being
    // played, also from one entry to the next that holds the same pattern.
    app_lock();
    const int32_t pattern = s.pattern;
    const int32_t order_pos = s.order_pos;
    app_unlock();
    if (pattern != status_pattern || order_pos != status_order_pos) {
        ed.status_dirty = 1;
        status_pattern = pattern;
        status_order_pos = order_pos;
    }
    if (os_mouse_down) ed.status_dirty = 1;
    if (!ed.status_dirty) return;

    app_select_layer(1);
    g_fill_rect(0, 0, G_WIDTH, G_HEIGHT, APP_BACKGROUND);
    g_draw_image(&app.logo_image, (G_WIDTH - app.logo_image.width) / 2, 5, 0, app.logo_image.width,
                 app.logo_image.height);
    g_fill_rect(APP_GRID_X, APP_GRID_Y, APP_GRID_W, APP_GRID_H, 0x00000000);

    const g_font& small = app.font_small;
    char text[152];
    snprintf(text, sizeof text,
             "SAMPLE:%d/%d (F1/F2) OCTAVE:%d (F3/F4) CHANNELS:F5-F8 PATTERN:%d/%d (CTRL-F1/F2-F3 NEW-F4 DEL)",
             ed.cur_sample, s.sample_count - 1, ed.cur_octave, pattern, s.pattern_count - 1);
    g_draw_text(text, &small, APP_GRID_X, APP_GRID_Y - 1 - 2 * small.cell_height);
    snprintf(text, sizeof text, "SONG PTR: %d/%d (CTRL-A ADD)(CTRL-ARROWS)(CTRL-D DEL)", order_pos, s.order_len - 1);
    g_draw_text(text, &small, APP_GRID_X, APP_GRID_Y - 1 - small.cell_height);
    ed.status_dirty = 0;

    app_draw_button(&app.btn_load);
    app_draw_button(&app.btn_save);
    app_draw_button(&app.btn_new);
    app_draw_button(&app.btn_wav);

    const int32_t strip_h = app.font_large.cell_height + 4;
    g_fill_rect(APP_GRID_X, 477, APP_GRID_W, strip_h, APP_ORDER_STRIP);
    int32_t offset = 0;
    // Entries past the layer's right edge would be clipped away entirely, so the list stops there.
    for (int32_t i = 0; s.order && i < s.order_len && APP_GRID_X + offset < G_WIDTH; i++) {
        const int32_t len = snprintf(text, sizeof text, "%02d ", s.order[i]);
        const int32_t width = len * small.advance;
        if (i == order_pos) g_fill_rect(APP_GRID_X + offset, 477, width, strip_h, APP_ORDER_CURRENT);
        g_draw_text(text, &small, APP_GRID_X + 2 + offset, 478);
        offset += width;
    }
    ed.present_flag = 1;
}

// The pattern a channel column shows: its pinned pattern while one is set and still exists, else the
// current pattern.
static snd_pattern* app_channel_view(int32_t c) {
    snd_song& s = app.song;
    if (audio_engine.snd_slot >= 0 && audio_engine.snd_slot <= 1) {
        const int32_t pinned = audio_engine.snd_voices[audio_engine.snd_slot][c].channel_pattern;
        if (pinned >= 0 && pinned < s.pattern_count && s.patterns) return snd_channel_pattern(&audio_engine, &s, c);
    }
    return app_current_pattern();
}

// One channel column of the grid, as the view shows it.
static void app_draw_channel(snd_pattern* pattern, int32_t c, const app_play_view& view) {
    OS_ASSERT(pattern != nullptr);
    OS_ASSERT(c >= 0);
    if (!pattern || c < 0 || c >= SND_CHANNELS) return;
    const app_editor& ed = app.editor;
    const g_font& large = app.font_large;
    const bool playing = view.row >= 0;
    const bool muted = view.muted[c] != 0;

    int32_t y = APP_CURSOR_Y - APP_ROW_H * ed.cursor_row;
    if (y > APP_GRID_Y) y = APP_GRID_Y;
    char number[8];
    for (int32_t i = 0; i < SND_ROWS && y <= APP_GRID_Y + APP_GRID_H; i++, y += APP_ROW_H) {
        uint32_t colour = APP_ROW;
        if (i % 4 == 0) colour = APP_ROW_4;
        if (i % 16 == 0) colour = APP_ROW_16;
        if (playing && i == ed.cursor_row) colour = APP_ROW_PLAYED;
        if (muted) colour = APP_ROW_MUTED;
        if (y < APP_GRID_Y) continue;

        snprintf(number, sizeof number, "%02X", i);
        g_draw_text(number, &large, APP_GRID_X, y);
        int32_t x = APP_GRID_X + 3 * large.advance + 180 * c;
        const uint8_t flags = *snd_cell_flags(pattern, c, i);
        for (int32_t j = 0; j < 5; j++) {
            const int32_t k = 5 * c + j;
            const bool selected =
                ed.sel_col >= 0 && ed.sel_col <= k && ed.sel_row <= i && ed.cursor_col / 5 >= c && ed.cursor_row >= i;
            const int32_t cursor = i == ed.cursor_row && k == ed.cursor_col && view.stopped;
            x += app_draw_field(j, *snd_cell_field(pattern, c, j, i), flags, x, y, cursor,
                                selected ? APP_SELECTED : colour);
        }
    }
}

void app_draw_pattern_view() {
    app_editor& ed = app.editor;
    app_play_view now = {};
    now.row = -1;
    app_lock();
    if (audio_engine.snd_players[0]) {
        const int32_t row = audio_engine.snd_players[0]->row;
        now.row = row < 0 ? 0 : row >= SND_ROWS ? SND_ROWS - 1 : row;
    }
    for (int32_t c = 0; c < SND_CHANNELS; c++) {
        now.shown[c] = app_channel_view(c);
        now.muted[c] = audio_engine.snd_slot >= 0 && audio_engine.snd_slot <= 1 &&
                       audio_engine.snd_voices[audio_engine.snd_slot][c].enabled == 0;
    }
    now.stopped = app.song.state == 0;
    app_unlock();
    if (now.row >= 0) ed.cursor_row = now.row;
    const bool same = now.row == app_shown.row && memcmp(now.shown, app_shown.shown, sizeof now.shown) == 0 &&
                      memcmp(now.muted, app_shown.muted, sizeof now.muted) == 0;
    if (!ed.pattern_dirty && same) return;
    app_shown = now;

    app_select_layer(0);
    g_fill_rect(APP_GRID_X, APP_GRID_Y, APP_GRID_W, APP_GRID_H, APP_GRID);
    for (int32_t c = 0; c < SND_CHANNELS; c++) app_draw_channel(now.shown[c], c, now);
    ed.pattern_dirty = 0;
    ed.present_flag = 1;
}

int32_t app_draw_field(int32_t j, uint8_t value, uint8_t flags, int32_t x, int32_t y, int32_t cursor, uint32_t colour) {
    static const char* const note_formats[12] = {"C-%d", "C#%d", "D-%d", "D#%d", "E-%d", "F-%d",
                                                 "F#%d", "G-%d", "G#%d", "A-%d", "A#%d", "B-%d"};
    OS_ASSERT(j >= 0 && j <= 4);
    const g_font& large = app.font_large;
    const bool present = j >= 0 && j <= 4 && ((flags >> j) & 1);
    char text[8] = "";
    int32_t chars = 1;
    switch (j) {
    case SND_FIELD_NOTE:
        chars = 3;
        if (!present) {
            snprintf(text, sizeof text, "---");
        } else {
            const int32_t semitone = value & 15;
            OS_ASSERT(semitone <= 11);
            if (semitone <= 11) snprintf(text, sizeof text, note_formats[semitone], value >> 4);
        }
        break;
    case SND_FIELD_SAMPLE:
    case SND_FIELD_VOLUME:
        if (present)
            snprintf(text, sizeof text, "%X", value & 15);
        else
            snprintf(text, sizeof text, "-");
        break;
    case SND_FIELD_EFFECT:
    case SND_FIELD_PARAM:
        chars = 2;
        if (present)
            snprintf(text, sizeof text, "%X%X", value >> 4, value & 15);
        else
            snprintf(text, sizeof text, "--");
        break;
    default:
        break;
    }

    g_fill_rect(x - 1, y, 6 + chars * large.advance, APP_ROW_H, colour);
    if (cursor) {
        const int32_t width = os_strlen(text) * large.advance + 6;
        if (app.editor.edit_mode == 1) {
            g_fill_rect(x - 1, y, width, APP_ROW_H, APP_CURSOR_EDIT);
            g_draw_text(text, &app.font_large2, x, y);
        } else {
            g_fill_rect(x - 1, y, width, APP_ROW_H, APP_CURSOR_VIEW);
            g_draw_text(text, &large, x, y);
        }
    } else {
        g_draw_text(text, &large, x, y);
    }
    return 6 + chars * large.advance;
}

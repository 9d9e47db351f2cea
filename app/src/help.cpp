// The help screen: the keys and the effect commands, drawn with the program's fonts on a layer of its own over
// the pattern grid while F9 has it open. The layers below keep being drawn as usual, so closing it shows the
// screen exactly as it would have been. Main thread.
#include "app.h"

#include <cstdio>
#include <cstring>

static constexpr int32_t APP_HELP_LAYER = 2;
static constexpr int32_t APP_HELP_X = 120; // the panel covers the pattern grid's window
static constexpr int32_t APP_HELP_Y = 100;
static constexpr int32_t APP_HELP_W = 770;
static constexpr int32_t APP_HELP_H = 375;
static constexpr int32_t APP_HELP_LINE = 11; // pitch of the small font's lines
static constexpr int32_t APP_HELP_KEY_CHARS = 16;
static constexpr uint32_t APP_HELP_BACKGROUND = 0xFF000064;
static constexpr uint32_t APP_HELP_TITLE_BAR = 0xFF6400FF;

struct app_help_line {
    const char* key;  // key or effect as typed
    const char* text; // what it does
};

// The font has capitals, digits and . + - # / _ > < : ( ) only.
static constexpr app_help_line app_help_keys_list[] = {
    {"ARROWS", "MOVE THE CURSOR"},
    {"SHIFT+ARROWS", "SELECT WHOLE CHANNELS"},
    {"SPACE", "EDIT MODE ON/OFF"},
    {"ENTER", "PLAY THE SONG OR STOP"},
    {"CTRL+ENTER", "LOOP THE PATTERN OR STOP"},
    {"F1/F2  F3/F4", "SAMPLE -/+  OCTAVE -/+"},
    {"F5-F8", "MUTE CHANNEL 1-4"},
    {"Q2W3ER5T6Y7UI", "NOTES FROM C"},
    {"ZSXDCVGBHNJM", "NOTES ONE OCTAVE LOWER"},
    {"0-9 A-F", "DIGITS IN THE OTHER FIELDS"},
    {"DELETE", "CLEAR FIELD AND SELECTION"},
    {"BACKSPACE", "NOTE CUT: EFFECT 00 00"},
    {"CTRL+0-8", nullptr}, // the edit step, with its value
    {"CTRL+F5/F6", "TRANSPOSE A SEMITONE -/+"},
    {"CTRL+F7/F8", "TRANSPOSE AN OCTAVE -/+"},
    {"", "(SELECTION OR CURSOR CHANNEL)"},
    {"CTRL+F1/F2", "PATTERN -/+"},
    {"CTRL+F3/F4", "ADD/DELETE PATTERN"},
    {"CTRL+UP/DOWN", "ORDER ENTRY PATTERN +/-"},
    {"CTRL+LEFT/RIGHT", "ORDER POSITION -/+"},
    {"CTRL+A/D", "ADD/DELETE ORDER ENTRY"},
    {"CTRL+C/V", "COPY/PASTE"},
    {"CTRL+Z/Y", "UNDO/REDO"},
    {"CTRL+O/L/S/W", "NEW/LOAD/SAVE/WAV"},
    {"CTRL+K", nullptr}, // whether MIDI velocity goes into the volume field
    {"F9 OR ESC", "CLOSE THIS HELP"},
};

static constexpr app_help_line app_help_effects_list[] = {
    {"00 00", "NOTE CUT AND EFFECTS OFF (06 STAYS)"},
    {"01 XX", "SLIDE UP XX HZ"},
    {"02 XX", "SLIDE DOWN XX HZ"},
    {"03 XY", "ARPEGGIO: NOTE  +X  +Y SEMITONES"},
    {"04 XX", "FADE OUT OVER XX BLOCKS OF 50 MS"},
    {"05 XX", "CHANNEL PLAYS PATTERN XX TO ITS END"},
    {"06 XX", "DETUNE 2ND OSCILLATOR XX/100 STEP"},
    {"07 XY", "VIBRATO: X SLOWER  Y DEEPER"},
    {"08", "STOP THE SONG"},
    {"0B XX", "GO ON AT ROW XX"},
    {"0D XX", "GO ON AT ORDER POSITION XX (FF NEXT)"},
    {"0F XY", "SPEED Y BLOCKS A ROW  ARPEGGIO X"},
};

// The rest of the effects, and how long they last, below the table.
static const char* const app_help_effect_notes[] = {
    "09 0A 0C 0E: NOTHING OF THEIR OWN.",
    "HIGH DIGIT 2 (20-2F): THE WAVE UPSIDE DOWN.",
    "FIRST PAIR: EFFECT FIELD. SECOND: PARAMETER.",
    "",
    "AN EFFECT STAYS ON THE CHANNEL UNTIL ANOTHER",
    "CHANGES IT: 03 AND 07 GO ON OVER LATER NOTES",
    "UNTIL 00  06 UNTIL 06 00  0F UNTIL THE NEXT 0F.",
    "01 02 AND 04 END WITH THE NEXT NOTE.",
};

// One column: a heading in the large font, then the lines with their keys in a column of their own.
static int32_t app_help_column(const char* heading, const app_help_line* lines, int32_t count, int32_t key_chars,
                               int32_t x, int32_t y) {
    const g_font& small = app.font_small;
    g_draw_text(heading, &app.font_large, x, y);
    y += 16;
    char value[48];
    for (int32_t i = 0; i < count; i++, y += APP_HELP_LINE) {
        g_draw_text(lines[i].key, &small, x, y);
        const char* text = lines[i].text;
        if (!text && strcmp(lines[i].key, "CTRL+K") == 0) {
            snprintf(value, sizeof value, "MIDI VELOCITY AS VOLUME: %s", app.editor.midi_velocity ? "ON" : "OFF");
            text = value;
        } else if (!text) {
            snprintf(value, sizeof value, "EDIT STEP: %d ROW%s", app.editor.edit_step,
                     app.editor.edit_step == 1 ? "" : "S");
            text = value;
        }
        g_draw_text(text, &small, x + key_chars * small.advance, y);
    }
    return y;
}

void app_draw_help() {
    if (app.help_open == app.help_drawn) return;
    app.help_drawn = app.help_open;
    if (!app.help_open) {
        // The whole frame is composed from the layers below again, as they are now.
        g_layer_on[APP_HELP_LAYER] = 0;
        g_target = &g_layers[1];
        g_target_index = 1;
        g_mark_dirty(0, 0, G_WIDTH, G_HEIGHT);
        return;
    }
    g_layer_on[APP_HELP_LAYER] = 1;
    g_target = &g_layers[APP_HELP_LAYER];
    g_target_index = APP_HELP_LAYER;
    const g_font& small = app.font_small;
    g_fill_rect(APP_HELP_X, APP_HELP_Y, APP_HELP_W, APP_HELP_H, APP_HELP_BACKGROUND);
    g_fill_rect(APP_HELP_X, APP_HELP_Y, APP_HELP_W, small.cell_height + 4, APP_HELP_TITLE_BAR);
    g_draw_text("HELP  (F9 OR ESC CLOSES IT)", &small, APP_HELP_X + 8, APP_HELP_Y + 1);

    const int32_t top = APP_HELP_Y + small.cell_height + 10;
    const int32_t left = APP_HELP_X + 8;
    const int32_t right = APP_HELP_X + 8 + 48 * small.advance;
    app_help_column("KEYS", app_help_keys_list, (int32_t)(sizeof app_help_keys_list / sizeof app_help_keys_list[0]),
                    APP_HELP_KEY_CHARS, left, top);
    int32_t y =
        app_help_column("EFFECTS", app_help_effects_list,
                        (int32_t)(sizeof app_help_effects_list / sizeof app_help_effects_list[0]), 6, right, top);
    y += APP_HELP_LINE / 2;
    for (const char* note : app_help_effect_notes) {
        g_draw_text(note, &small, right, y);
        y += APP_HELP_LINE;
    }
    app.editor.present_flag = 1;
}

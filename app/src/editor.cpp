// The editor: once per step, turns the polled keys and the on-screen buttons into edits of the song, note
// previews, play and stop, pattern and order-list commands and the file commands. Draws nothing; it only sets
// the redraw flags. Between steps, a note key or a MIDI note starts its preview the moment its event arrives
// (app_preview_now), and the step that writes the note does not start it again. Main thread, holding audio_lock
// for the step's update and for the moment a preview starts (the audio thread plays the same song).
#include "app.h"

#include "os_platform.h"
#include "os_tools.h"

// Note keyboard: key index -> semitone and octave offset.
struct app_note_key {
    uint8_t key;      // key index (upper-case character code)
    uint8_t semitone; // 0..11 from C
    int8_t offset;    // octave relative to cur_octave
};

// A preview started when its event arrived, between two steps; the next step's preview of the same note on the same
// channel, row and sample is that one and does not start it again.
struct app_early_preview {
    uint8_t valid;   // 1 from app_preview_now until the end of the next step
    uint8_t note;    // note byte (octave * 16 + semitone)
    uint8_t sample;  // sample it was played with
    int32_t channel; // channel 0..3
    int32_t row;     // cursor row whose effect it took
};

static constexpr app_note_key app_note_keys[] = {
    {'Q', 0, 0},  {'2', 1, 0},  {'W', 2, 0},   {'3', 3, 0},   {'E', 4, 0},  {'R', 5, 0},  {'5', 6, 0},
    {'T', 7, 0},  {'6', 8, 0},  {'Y', 9, 0},   {'7', 10, 0},  {'U', 11, 0}, {'I', 0, 1},  {'Z', 0, -1},
    {'S', 1, -1}, {'X', 2, -1}, {'D', 3, -1},  {'C', 4, -1},  {'V', 5, -1}, {'G', 6, -1}, {'B', 7, -1},
    {'H', 8, -1}, {'N', 9, -1}, {'J', 10, -1}, {'M', 11, -1},
};

static app_early_preview app_early; // the preview started since the last step, if any; main thread
static uint32_t app_presses_seen;   // os_key_presses when the loop last looked for a typed note; main thread

static bool app_held(int32_t key) { return os_keys[key] != 0; }
static bool app_pressed(int32_t key) { return os_keys[key] == 1; }
static bool app_repeating(int32_t key) { return os_keys[key] == 1 || os_keys[key] >= 16; }

snd_pattern* app_current_pattern() {
    const snd_song& s = app.song;
    if (!s.patterns || s.pattern < 0 || s.pattern >= s.pattern_count) return nullptr;
    return s.patterns[s.pattern];
}

// The order entry under order_pos, null when the position is outside the list.
static uint8_t* app_current_order_entry() {
    snd_song& s = app.song;
    if (!s.order || s.order_pos < 0 || s.order_pos >= s.order_len) return nullptr;
    return &s.order[s.order_pos];
}

static void app_update_selection() {
    app_editor& ed = app.editor;
    if (app_held(KEY_SHIFT)) {
        if (ed.sel_col < 0) {
            ed.sel_col = ed.cursor_col / 5 * 5;
            ed.sel_row = ed.cursor_row;
        }
    } else if (!app_held(KEY_CTRL) &&
               (app_held(KEY_LEFT) || app_held(KEY_RIGHT) || app_held(KEY_UP) || app_held(KEY_DOWN))) {
        ed.sel_col = -1;
        ed.sel_row = -1;
    }
}

// The cursor moves down by the edit step after an entry, but not past the last row.
static void app_step_down() {
    app_editor& ed = app.editor;
    const int32_t step = ed.edit_step < 0 ? 0 : ed.edit_step > APP_MAX_EDIT_STEP ? APP_MAX_EDIT_STEP : ed.edit_step;
    ed.cursor_row += step;
    if (ed.cursor_row > SND_ROWS - 1) ed.cursor_row = SND_ROWS - 1;
}

uint8_t app_transpose_note(uint8_t note, int32_t semitones) {
    const int32_t octave = note >> 4;
    const int32_t semitone = note & 15;
    if (semitone > 11 || octave > 9) return note;
    const int32_t index = octave * 12 + semitone + semitones;
    if (index < 0 || index >= SND_NOTES) return note;
    return (uint8_t)(index / 12 * 16 + index % 12);
}

void app_transpose(int32_t semitones) {
    const app_editor& ed = app.editor;
    snd_pattern* p = app_current_pattern();
    if (!p) return;
    int32_t first_channel = ed.cursor_col / 5;
    const int32_t last_channel = first_channel;
    int32_t first_row = 0;
    int32_t last_row = SND_ROWS - 1;
    // A selection that highlights something gives the block; an empty one (the cursor above or left of the
    // anchor) counts as none.
    if (ed.sel_col >= 0 && ed.sel_row >= 0 && ed.sel_row <= ed.cursor_row && ed.sel_col / 5 <= last_channel) {
        first_channel = ed.sel_col / 5;
        first_row = ed.sel_row;
        last_row = ed.cursor_row;
    }
    app_undo_note_pattern(app.song.pattern);
    for (int32_t c = first_channel; c <= last_channel && c < SND_CHANNELS; c++)
        for (int32_t r = first_row; r <= last_row && r < SND_ROWS; r++) {
            if (!(*snd_cell_flags(p, c, r) & SND_HAS_NOTE)) continue;
            uint8_t* note = snd_cell_field(p, c, SND_FIELD_NOTE, r);
            *note = app_transpose_note(*note, semitones);
        }
}

static void app_copy() {
    app_editor& ed = app.editor;
    ed.clip_row = ed.sel_row;
    ed.clip_col = ed.sel_col;
    ed.clip_col_end = (ed.cursor_col + 5) / 5 * 5;
    ed.clip_row_end = ed.cursor_row;
    ed.clip_pattern = app.song.pattern;
}

// Copies the remembered block, as the source pattern holds it now, to the cursor's channel and row, one cell
// at a time in row-major order. A block without a selection (negative corner), an empty block or a source
// pattern that no longer exists pastes nothing; cells that would land outside the grid are dropped.
void app_paste() {
    const app_editor& ed = app.editor;
    snd_song& s = app.song;
    if (ed.clip_row < 0 || ed.clip_col < 0) return;
    if (ed.clip_row > ed.clip_row_end || ed.clip_col >= ed.clip_col_end) return;
    if (ed.clip_pattern < 0 || ed.clip_pattern >= s.pattern_count || !s.patterns) return;
    snd_pattern* src = s.patterns[ed.clip_pattern];
    snd_pattern* dst = app_current_pattern();
    if (!src || !dst) return;
    app_undo_note_pattern(s.pattern);

    const int32_t base_col = ed.cursor_col / 5 * 5;
    for (int32_t r = ed.clip_row; r <= ed.clip_row_end && r < SND_ROWS; r++) {
        const int32_t t = ed.cursor_row + (r - ed.clip_row);
        if (t < 0 || t >= SND_ROWS) break;
        for (int32_t c = ed.clip_col; c < ed.clip_col_end && c < SND_CHANNELS * 5; c++) {
            const int32_t d = base_col + (c - ed.clip_col);
            if (d < 0 || d >= SND_CHANNELS * 5) break;
            *snd_cell_field(dst, d / 5, d % 5, t) = *snd_cell_field(src, c / 5, c % 5, r);
            const uint8_t present = (uint8_t)((*snd_cell_flags(src, c / 5, r) >> (c % 5)) & 1);
            uint8_t* flags = snd_cell_flags(dst, d / 5, t);
            const uint8_t bit = (uint8_t)(1 << (d % 5));
            *flags = present ? (uint8_t)(*flags | bit) : (uint8_t)(*flags & ~bit);
        }
    }
}

// Ctrl commands and button presses. Inside the group the keys are read without regard to Ctrl: holding a
// button down with the mouse gives the same commands.
static void app_command_group() {
    app_editor& ed = app.editor;
    snd_song& s = app.song;

    if (app_pressed(KEY_F1) && s.pattern > 0) s.pattern--;
    if (app_pressed(KEY_F2) && s.pattern < s.pattern_count - 1) s.pattern++;
    if (app_pressed(KEY_F3) && s.pattern_count < SND_MAX_PATTERNS) {
        app_undo_note_add_pattern();
        snd_add_pattern(&s);
        ed.status_dirty = 1;
    }
    if (app_pressed(KEY_F4) && s.pattern_count > 1) {
        app_undo_note_delete_pattern(s.pattern);
        snd_delete_pattern(&s, s.pattern);
        if (s.pattern >= s.pattern_count) s.pattern = s.pattern_count - 1;
        ed.status_dirty = 1;
    }

    if (os_last_key == 'C')
        app_copy();
    else if (os_last_key == 'V')
        app_paste();
    else if (os_last_key >= '0' && os_last_key <= '0' + APP_MAX_EDIT_STEP)
        ed.edit_step = os_last_key - '0';
    else if (os_last_key == 'K')
        app_toggle_midi_velocity();

    // Ctrl+F5 / Ctrl+F6 a semitone down / up, Ctrl+F7 / Ctrl+F8 an octave.
    static constexpr struct {
        int32_t key, semitones;
    } transposes[] = {{KEY_F5, -1}, {KEY_F6, 1}, {KEY_F7, -12}, {KEY_F8, 12}};
    for (const auto& t : transposes)
        if (app_pressed(t.key)) app_transpose(t.semitones);

    if (app.btn_load.press_frames == 1) os_last_key = 'L';
    if (app.btn_save.press_frames == 1) os_last_key = 'S';
    if (app.btn_new.press_frames == 1) os_last_key = 'O';
    if (app.btn_wav.press_frames == 1) os_last_key = 'W';

    if (uint8_t* entry = app_current_order_entry()) {
        if (app_repeating(KEY_UP)) {
            ed.status_dirty = 1;
            if (*entry < s.pattern_count - 1) {
                app_undo_note_order();
                (*entry)++;
            }
        }
        if (app_repeating(KEY_DOWN)) {
            ed.status_dirty = 1;
            if (*entry > 0) {
                app_undo_note_order();
                (*entry)--;
            }
        }
    }
    if (app_repeating(KEY_LEFT) && s.order_pos > 0) {
        s.order_pos--;
        ed.status_dirty = 1;
    }
    if (app_repeating(KEY_RIGHT) && s.order_pos < s.order_len - 1) {
        s.order_pos++;
        ed.status_dirty = 1;
    }

    // Ctrl+Z undoes, Ctrl+Y and Ctrl+Shift+Z redo; held down, they repeat like the arrows.
    if (app_repeating('Z')) {
        if (app_held(KEY_SHIFT))
            app_redo();
        else
            app_undo();
    } else if (app_repeating('Y')) {
        app_redo();
    }

    switch (os_last_key) {
    case 'A':
        app_undo_note_order();
        snd_insert_order(&s, s.order_len);
        ed.status_dirty = 1;
        break;
    case 'D':
        // The list keeps its last entry: playback and the editor need one to stand on.
        if (s.order_len > 1) {
            app_undo_note_order();
            snd_delete_order(&s, s.order_pos);
            ed.status_dirty = 1;
        }
        break;
    case 'L':
        app_file_load();
        break;
    case 'S':
        app_file_save();
        break;
    case 'O':
        app_file_new();
        break;
    case 'W':
        app_file_wav();
        break;
    default:
        break;
    }

    os_last_key = 0;
    ed.pattern_dirty = 1;
}

static bool app_song_playable() { return app_current_pattern() && app_current_order_entry(); }

static void app_play_stop() {
    snd_song& s = app.song;
    // Starting or stopping resets the voices: a note whose preview started before it in this step sounds again after.
    app_early.valid = 0;
    if (s.state != 0) {
        snd_stop_song(&audio_engine, &s);
    } else if (app_song_playable()) {
        if (app_held(KEY_CTRL))
            snd_play_pattern(&audio_engine, &s);
        else
            snd_play_song(&audio_engine, &s);
    }
    app.editor.pattern_dirty = 1;
}

static void app_navigate() {
    app_editor& ed = app.editor;
    const snd_song& s = app.song;
    if (app_repeating(KEY_RIGHT)) {
        if (ed.cursor_col < 19) ed.cursor_col++;
        ed.pattern_dirty = 1;
    }
    if (app_repeating(KEY_LEFT)) {
        if (ed.cursor_col > 0) ed.cursor_col--;
        ed.pattern_dirty = 1;
    }
    if (app_repeating(KEY_UP)) {
        if (ed.cursor_row > 0) ed.cursor_row--;
        ed.pattern_dirty = 1;
    }
    if (app_repeating(KEY_DOWN)) {
        if (ed.cursor_row < SND_ROWS - 1) ed.cursor_row++;
        ed.pattern_dirty = 1;
    }
    if (app_pressed(KEY_F4)) {
        ed.cur_octave++;
        if (ed.cur_octave >= 9) ed.cur_octave = 0;
        ed.status_dirty = 1;
    }
    if (app_pressed(KEY_F3)) {
        ed.cur_octave = ed.cur_octave == 0 ? 9 : ed.cur_octave - 1;
        ed.status_dirty = 1;
    }
    if (app_pressed(KEY_F2)) {
        ed.cur_sample++;
        if (ed.cur_sample >= s.sample_count) ed.cur_sample = 0;
        ed.status_dirty = 1;
    }
    if (app_pressed(KEY_F1)) {
        ed.cur_sample--;
        if (ed.cur_sample >= s.sample_count) ed.cur_sample = (uint8_t)(s.sample_count > 0 ? s.sample_count - 1 : 0);
        ed.status_dirty = 1;
    }
    const int32_t mute_keys[SND_CHANNELS] = {KEY_F5, KEY_F6, KEY_F7, KEY_F8};
    for (int32_t c = 0; c < SND_CHANNELS; c++) {
        if (!app_pressed(mute_keys[c])) continue;
        if (audio_engine.snd_slot < 0 || audio_engine.snd_slot > 1) break;
        snd_voice& v = audio_engine.snd_voices[audio_engine.snd_slot][c];
        v.enabled = v.enabled ? 0 : 1;
        ed.pattern_dirty = 1;
    }
}

// Plays a note on the channel's voice with the current sample, and the effect of the row under the cursor if it has
// one. With audio_lock held.
static void app_start_preview(snd_pattern* p, int32_t channel, uint8_t note) {
    const app_editor& ed = app.editor;
    snd_song& s = app.song;
    if (audio_engine.snd_slot < 0 || audio_engine.snd_slot > 1) return;
    snd_set_effect(&audio_engine, channel, 0, 0);
    // A sample number the song does not have plays nothing rather than a record without data.
    if (s.samples && ed.cur_sample < s.sample_count)
        snd_play_note(&audio_engine, note & 15, note >> 4, channel, &s.samples[ed.cur_sample], 10);
    if (p && (*snd_cell_flags(p, channel, ed.cursor_row) & SND_HAS_EFFECT))
        snd_set_effect(&audio_engine, channel, *snd_cell_field(p, channel, SND_FIELD_PARAM, ed.cursor_row),
                       *snd_cell_field(p, channel, SND_FIELD_EFFECT, ed.cursor_row));
    audio_engine.snd_voices[audio_engine.snd_slot][channel].target_volume = 1.0f;
}

void app_preview_note(snd_pattern* p, int32_t channel, uint8_t note) {
    const app_editor& ed = app.editor;
    const app_early_preview& e = app_early;
    if (e.valid && e.channel == channel && e.note == note && e.sample == ed.cur_sample && e.row == ed.cursor_row)
        return;
    app_start_preview(p, channel, note);
}

void app_preview_now(int32_t channel, uint8_t note) {
    OS_ASSERT(channel >= 0 && channel < SND_CHANNELS);
    if (channel < 0 || channel >= SND_CHANNELS) return;
    app_lock();
    app_start_preview(app_current_pattern(), channel, note);
    const app_editor& ed = app.editor;
    app_early = app_early_preview{1, note, ed.cur_sample, channel, ed.cursor_row};
    app_unlock();
}

// The note a note key gives at the current octave: octave * 16 + semitone; -1 for a key that is no note key.
static int32_t app_key_note(int32_t key) {
    for (const app_note_key& k : app_note_keys) {
        if (key != k.key) continue;
        int32_t octave = app.editor.cur_octave + k.offset;
        if (octave < 0 || octave > 8) octave = app.editor.cur_octave;
        return octave * 16 + k.semitone;
    }
    return -1;
}

// A note key pressed since the last step sounds at once when the next step will take it as a note to play as it is
// now: the help screen is closed, neither Ctrl nor the mouse makes it a command, the cursor stands on a note field,
// and no key the step reads before the note (Return, a function key, an arrow about to move the cursor) is
// waiting. Anything else is left to the step.
static void app_play_typed_note() {
    const app_editor& ed = app.editor;
    if (app.help_open || app_held(KEY_CTRL) || os_mouse_down) return;
    if (ed.cursor_col < 0 || ed.cursor_col > 19 || ed.cursor_col % 5 != SND_FIELD_NOTE) return;
    static constexpr int32_t read_first[] = {KEY_RETURN, KEY_F1, KEY_F2, KEY_F3, KEY_F4,
                                             KEY_F5,     KEY_F6, KEY_F7, KEY_F8, KEY_F9};
    for (const int32_t key : read_first)
        if (app_pressed(key)) return;
    for (const int32_t key : {KEY_LEFT, KEY_RIGHT, KEY_UP, KEY_DOWN})
        if (app_repeating(key)) return;
    const int32_t note = app_key_note(os_last_key);
    if (note >= 0) app_preview_now(ed.cursor_col / 5, (uint8_t)note);
}

void app_sound_typed_note() {
    if (os_key_presses == app_presses_seen) return;
    app_presses_seen = os_key_presses;
    if (app_dialog_waiting()) return;
    app_play_typed_note();
}

int app_poll_event() {
    const int request = os_poll_event();
    app_sound_typed_note();
    return request;
}

void app_note_input(uint8_t note, int32_t volume) {
    app_editor& ed = app.editor;
    snd_pattern* p = app_current_pattern();
    const int32_t channel = ed.cursor_col / 5;
    const int32_t row = ed.cursor_row;
    ed.pattern_dirty = 1;
    const bool write = ed.edit_mode == 1 && p;
    if (write) {
        app_undo_note_pattern(app.song.pattern);
        *snd_cell_field(p, channel, SND_FIELD_SAMPLE, row) = ed.cur_sample;
        *snd_cell_flags(p, channel, row) |= SND_HAS_SAMPLE;
    }
    app_preview_note(p, channel, note);
    if (!write) return;
    *snd_cell_field(p, channel, SND_FIELD_NOTE, row) = note;
    *snd_cell_flags(p, channel, row) |= SND_HAS_NOTE;
    if (volume >= 0) {
        *snd_cell_field(p, channel, SND_FIELD_VOLUME, row) = (uint8_t)volume;
        *snd_cell_flags(p, channel, row) |= SND_HAS_VOLUME;
    }
    ed.half_entered = 0;
    app_step_down();
}

static void app_value_entry(snd_pattern* p) {
    app_editor& ed = app.editor;
    const int32_t field = ed.cursor_col % 5;
    const int32_t channel = ed.cursor_col / 5;
    int32_t value = -1;

    if (os_last_key >= '0' && os_last_key <= '9')
        value = os_last_key - '0';
    else if (os_last_key >= 'A' && os_last_key <= 'F')
        value = os_last_key - 'A' + 10;
    else if (os_last_key != 0)
        ed.half_entered = 0;

    // In a note field the note keyboard decides; a hex digit there is no value.
    if (field == SND_FIELD_NOTE) {
        const int32_t note = app_key_note(os_last_key);
        if (note >= 0) {
            os_last_key = 0;
            app_note_input((uint8_t)note, -1);
        }
        return;
    }

    if (ed.edit_mode != 1 || value < 0 || !p) return;
    os_last_key = 0;
    ed.pattern_dirty = 1;
    app_undo_note_pattern(app.song.pattern);
    uint8_t* byte = snd_cell_field(p, channel, field, ed.cursor_row);
    uint8_t* flags = snd_cell_flags(p, channel, ed.cursor_row);
    if (field <= SND_FIELD_VOLUME) {
        *byte = (uint8_t)value;
        *flags |= (uint8_t)(1 << field);
        ed.half_entered = 0;
        app_step_down();
        return;
    }
    if (ed.half_entered == 0) {
        *byte = (uint8_t)value;
        ed.half_entered = 1;
    } else {
        *byte = (uint8_t)(*byte * 16 + value);
        ed.half_entered = 0;
    }
    *flags |= (uint8_t)(1 << field);
    if (field == SND_FIELD_PARAM) {
        ed.last_param = *byte;
    } else {
        *snd_cell_field(p, channel, SND_FIELD_PARAM, ed.cursor_row) = ed.last_param;
        *flags |= SND_HAS_PARAM;
    }
}

static void app_delete(snd_pattern* p) {
    app_editor& ed = app.editor;
    if (ed.edit_mode != 1 || !app_pressed(KEY_DELETE) || !p) return;
    os_last_key = 0;
    ed.pattern_dirty = 1;
    app_undo_note_pattern(app.song.pattern);
    const int32_t field = ed.cursor_col % 5;
    const int32_t channel = ed.cursor_col / 5;
    *snd_cell_field(p, channel, field, ed.cursor_row) = 0;
    uint8_t* flags = snd_cell_flags(p, channel, ed.cursor_row);
    *flags &= (uint8_t) ~(1 << field);
    if (field == SND_FIELD_NOTE) {
        *snd_cell_field(p, channel, SND_FIELD_SAMPLE, ed.cursor_row) = 0;
        *flags = 0;
    }
    if (ed.sel_row >= 0 && ed.sel_col >= 0 && ed.sel_row <= ed.cursor_row) {
        const int32_t last_col = channel * 5 + 4;
        for (int32_t r = ed.sel_row; r <= ed.cursor_row && r < SND_ROWS; r++)
            for (int32_t c = ed.sel_col; c <= last_col && c < SND_CHANNELS * 5; c++) {
                *snd_cell_field(p, c / 5, c % 5, r) = 0;
                *snd_cell_flags(p, c / 5, r) = 0;
            }
    }
    if (ed.cursor_row < SND_ROWS - 1) ed.cursor_row++;
}

// Backspace writes effect 00 with parameter 00 into the cursor's channel and row: the player cuts the channel's
// note there and switches its effects off.
static void app_note_cut(snd_pattern* p) {
    app_editor& ed = app.editor;
    if (ed.edit_mode != 1 || !app_pressed(KEY_BACKSPACE) || !p) return;
    os_last_key = 0;
    ed.pattern_dirty = 1;
    ed.half_entered = 0;
    app_undo_note_pattern(app.song.pattern);
    const int32_t channel = ed.cursor_col / 5;
    *snd_cell_field(p, channel, SND_FIELD_EFFECT, ed.cursor_row) = 0;
    *snd_cell_field(p, channel, SND_FIELD_PARAM, ed.cursor_row) = 0;
    *snd_cell_flags(p, channel, ed.cursor_row) |= SND_HAS_EFFECT | SND_HAS_PARAM;
    app_step_down();
}

// The help screen takes the keyboard while it is open: F9 or Escape closes it, and every other key is ignored.
// Returns true when the step belongs to the help screen.
static bool app_help_keys() {
    if (!app.help_open && !app_pressed(KEY_F9)) return false;
    if (!app.help_open)
        app.help_open = 1;
    else if (app_pressed(KEY_F9) || app_pressed(KEY_ESCAPE))
        app.help_open = 0;
    os_last_key = 0;
    return true;
}

void app_unpin_channels() {
    for (snd_voice& v : audio_engine.snd_voices[0]) v.channel_pattern = -1;
}

// After a stop every channel stays pinned to the pattern that was playing. A command that then changes the
// current pattern frees them, so that the grid shows the pattern that typing, Delete and paste change.
static void app_follow_current_pattern(int32_t pattern_before, const snd_pattern* block_before) {
    if (app.song.state != 0) return;
    if (app.song.pattern == pattern_before && app_current_pattern() == block_before) return;
    app_unpin_channels();
    app.editor.pattern_dirty = 1;
}

// Return (play or stop) and the WAV command try to open the sound device when none is open, so that one plugged in
// since is taken up. Without the lock: the device's thread may wait for it while the open waits for that thread.
static void app_retry_device() {
    if (audio_device || app.help_open) return;
    const bool wav = app.btn_wav.press_frames == 1 || (app_held(KEY_CTRL) && os_last_key == 'W');
    if (app_pressed(KEY_RETURN) || wav) audio_open();
}

void app_update() {
    // The blocks the audio thread has recorded since the last step go to "song.wav" first, without the lock: the
    // disk never holds up the sound.
    wav_drain(&audio_engine);
    app_retry_device();
    // Without a device, the clock moves the song on (and feeds a capture) by the time since the last step.
    audio_keep_time();
    app_lock();
    app_report_start_file();
    app_report_no_device();
    app_report_wav_failure();
    // While a file command waits for its dialog, the dialog has the keyboard.
    if (app_dialog_waiting()) {
        os_last_key = 0;
        app_early.valid = 0;
        app_unlock();
        return;
    }
    if (app_help_keys()) {
        app_early.valid = 0;
        app_unlock();
        return;
    }
    app_editor& ed = app.editor;
    snd_pattern* p = app_current_pattern();
    OS_ASSERT(p != nullptr);
    const int32_t pattern_before = app.song.pattern;
    const snd_pattern* block_before = p;

    // The cursor is kept on the grid whatever put it elsewhere.
    if (ed.cursor_col < 0 || ed.cursor_col > 19) ed.cursor_col = ed.cursor_col < 0 ? 0 : 19;
    if (ed.cursor_row < 0 || ed.cursor_row >= SND_ROWS) ed.cursor_row = ed.cursor_row < 0 ? 0 : SND_ROWS - 1;
    app_undo_begin();

    app_update_selection();

    if (app_held(KEY_CTRL) || app.btn_load.press_frames || app.btn_save.press_frames || app.btn_new.press_frames ||
        app.btn_wav.press_frames) {
        app_command_group();
        // The commands may have replaced the song or its pattern table.
        p = app_current_pattern();
    }

    if (app_pressed(KEY_SHARE)) app_share_song();

    if (app_pressed(KEY_RETURN)) app_play_stop();

    if (app_pressed(KEY_SPACE)) {
        ed.edit_mode = ed.edit_mode == 1 ? 0 : 1;
        ed.pattern_dirty = 1;
    }

    if (!app_held(KEY_CTRL)) app_navigate();

    app_value_entry(p);
    app_delete(p);
    app_note_cut(p);
    app_undo_commit();
    app_follow_current_pattern(pattern_before, block_before);
    app_show_title();
    app_early.valid = 0;
    app_unlock();
}

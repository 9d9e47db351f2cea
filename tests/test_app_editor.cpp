// The editor driven through the key table, the way the musician drives it: cursor, selection, edit mode, play
// and stop, samples, octaves, mutes, note and value entry, delete, pattern and order-list commands, copy and
// paste.
#include "app_fixture.h"

#include <cstring>
#include <functional>
#include <vector>

using EditorTest = AppTest;

TEST_F(EditorTest, StartsWithTheDocumentedEditorState) {
    const app_editor& ed = app.editor;
    EXPECT_EQ(ed.cursor_col, 0);
    EXPECT_EQ(ed.cursor_row, 0);
    EXPECT_EQ(ed.cur_sample, 0);
    EXPECT_EQ(ed.cur_octave, 4);
    EXPECT_EQ(ed.edit_mode, 1);
    EXPECT_EQ(ed.sel_col, -1);
    EXPECT_EQ(ed.sel_row, -1);
    EXPECT_EQ(ed.clip_pattern, 0);
    EXPECT_EQ(app.song.pattern_count, 1);
    EXPECT_EQ(app.song.order_len, 1);
    EXPECT_EQ(app.song.sample_count, 8);
}

TEST_F(EditorTest, ArrowsMoveTheCursorWithinTheGrid) {
    tap(VK_LEFT);
    tap(VK_UP);
    EXPECT_EQ(app.editor.cursor_col, 0);
    EXPECT_EQ(app.editor.cursor_row, 0);
    tap(VK_RIGHT);
    tap(VK_RIGHT);
    tap(VK_DOWN);
    EXPECT_EQ(app.editor.cursor_col, 2);
    EXPECT_EQ(app.editor.cursor_row, 1);
    EXPECT_EQ(app.editor.pattern_dirty, 0) << "the drawing consumed the flag";
    move_to(19, 63);
    tap(VK_RIGHT);
    tap(VK_DOWN);
    EXPECT_EQ(app.editor.cursor_col, 19);
    EXPECT_EQ(app.editor.cursor_row, 63);
    tap(VK_LEFT);
    tap(VK_UP);
    EXPECT_EQ(app.editor.cursor_col, 18);
    EXPECT_EQ(app.editor.cursor_row, 62);
}

TEST_F(EditorTest, HeldArrowMovesOnceThenRepeatsAfterFifteenSteps) {
    down(VK_DOWN);
    step();
    EXPECT_EQ(app.editor.cursor_row, 1);
    step(14);
    EXPECT_EQ(app.editor.cursor_row, 1) << "steps 2..15 of the hold do not repeat";
    step();
    EXPECT_EQ(app.editor.cursor_row, 2);
    step(4);
    EXPECT_EQ(app.editor.cursor_row, 6) << "then one row per step";
    up(VK_DOWN);
    step(3);
    EXPECT_EQ(app.editor.cursor_row, 6);
}

TEST_F(EditorTest, HeldLetterTypesOnce) {
    down('Q');
    step(40);
    up('Q');
    EXPECT_EQ(app.editor.cursor_row, 1);
    EXPECT_EQ(flags(0, 0), SND_HAS_NOTE | SND_HAS_SAMPLE);
    EXPECT_EQ(flags(0, 1), 0);
}

TEST_F(EditorTest, ShiftAnchorsTheSelectionAndPlainArrowsDropIt) {
    move_to(7, 5);
    down(VK_SHIFT);
    step();
    EXPECT_EQ(app.editor.sel_col, 5) << "anchored at the first column of the cursor's channel";
    EXPECT_EQ(app.editor.sel_row, 5);
    tap(VK_DOWN);
    tap(VK_RIGHT);
    up(VK_SHIFT);
    EXPECT_EQ(app.editor.sel_col, 5);
    EXPECT_EQ(app.editor.sel_row, 5);
    EXPECT_EQ(app.editor.cursor_row, 6);
    EXPECT_EQ(app.editor.cursor_col, 8);

    ctrl(VK_RIGHT);
    EXPECT_EQ(app.editor.sel_col, 5) << "Ctrl+arrows keep the selection";
    tap(VK_LEFT);
    EXPECT_EQ(app.editor.sel_col, -1);
    EXPECT_EQ(app.editor.sel_row, -1);
}

TEST_F(EditorTest, SpaceTogglesEditMode) {
    tap(VK_SPACE);
    EXPECT_EQ(app.editor.edit_mode, 0);
    tap(VK_SPACE);
    EXPECT_EQ(app.editor.edit_mode, 1);
}

TEST_F(EditorTest, EnterPlaysTheSongAndStopsIt) {
    tap(VK_RETURN);
    EXPECT_EQ(audio_engine.snd_players[0], &app.song);
    EXPECT_EQ(audio_engine.snd_song_mode, 1);
    EXPECT_NE(app.song.state, 0);
    tap(VK_RETURN);
    EXPECT_EQ(audio_engine.snd_players[0], nullptr);
    EXPECT_EQ(app.song.state, 0);
}

TEST_F(EditorTest, CtrlEnterLoopsThePatternFromTheCurrentRow) {
    app.song.row = 9;
    ctrl(VK_RETURN);
    EXPECT_EQ(audio_engine.snd_players[0], &app.song);
    EXPECT_EQ(audio_engine.snd_song_mode, 0);
    EXPECT_EQ(app.song.row, 9);
    ctrl(VK_RETURN);
    EXPECT_EQ(audio_engine.snd_players[0], nullptr);
}

TEST_F(EditorTest, SampleKeysWrapWithinTheSampleTable) {
    tap(fkey(1));
    EXPECT_EQ(app.editor.cur_sample, 7);
    tap(fkey(2));
    EXPECT_EQ(app.editor.cur_sample, 0);
    tap(fkey(2));
    tap(fkey(2));
    EXPECT_EQ(app.editor.cur_sample, 2);
    tap(fkey(1));
    EXPECT_EQ(app.editor.cur_sample, 1);
}

TEST_F(EditorTest, OctaveKeysFollowTheirWrapRules) {
    app.editor.cur_octave = 0;
    tap(fkey(3));
    EXPECT_EQ(app.editor.cur_octave, 9);
    tap('Q');
    EXPECT_EQ(field(0, SND_FIELD_NOTE, 0), 0x90) << "Q plays octave 9 itself";
    tap('Z');
    EXPECT_EQ(field(0, SND_FIELD_NOTE, 1), 0x80) << "Z one octave below";
    tap(fkey(4));
    EXPECT_EQ(app.editor.cur_octave, 0);
    app.editor.cur_octave = 8;
    tap(fkey(4));
    EXPECT_EQ(app.editor.cur_octave, 0);
    app.editor.cur_octave = 4;
    tap(fkey(4));
    EXPECT_EQ(app.editor.cur_octave, 5);
    tap(fkey(3));
    EXPECT_EQ(app.editor.cur_octave, 4);
}

TEST_F(EditorTest, FunctionKeysMuteAndUnmuteChannels) {
    for (int c = 0; c < 4; c++) {
        tap(fkey(5 + c));
        EXPECT_EQ(audio_engine.snd_voices[0][c].enabled, 0) << c;
    }
    tap(fkey(6));
    EXPECT_EQ(audio_engine.snd_voices[0][1].enabled, 1);
    EXPECT_EQ(audio_engine.snd_voices[0][0].enabled, 0);
}

TEST_F(EditorTest, EveryNoteKeyWritesItsNoteAndTheCurrentSample) {
    struct {
        char key;
        uint8_t note;
    } const keys[] = {{'Q', 0x40}, {'2', 0x41}, {'W', 0x42}, {'3', 0x43}, {'E', 0x44}, {'R', 0x45}, {'5', 0x46},
                      {'T', 0x47}, {'6', 0x48}, {'Y', 0x49}, {'7', 0x4A}, {'U', 0x4B}, {'I', 0x50}, {'Z', 0x30},
                      {'S', 0x31}, {'X', 0x32}, {'D', 0x33}, {'C', 0x34}, {'V', 0x35}, {'G', 0x36}, {'B', 0x37},
                      {'H', 0x38}, {'N', 0x39}, {'J', 0x3A}, {'M', 0x3B}};
    app.editor.cur_sample = 3;
    move_to(10, 0); // channel 2
    int row = 0;
    for (const auto& k : keys) {
        tap((uint8_t)k.key);
        EXPECT_EQ(field(2, SND_FIELD_NOTE, row), k.note) << k.key;
        EXPECT_EQ(field(2, SND_FIELD_SAMPLE, row), 3) << k.key;
        EXPECT_EQ(flags(2, row), SND_HAS_NOTE | SND_HAS_SAMPLE) << k.key;
        row++;
        EXPECT_EQ(app.editor.cursor_row, row);
    }
    // The keys of the other rows of the keyboard do nothing in a note field.
    type("AFKLOP1490");
    EXPECT_EQ(app.editor.cursor_row, row);
    EXPECT_EQ(flags(2, row), 0);
}

TEST_F(EditorTest, NoteKeyPreviewsOnTheChannelsVoice) {
    move_to(5, 0);
    tap('Q');
    EXPECT_EQ(audio_engine.snd_voices[0][1].active, 1);
    EXPECT_EQ(audio_engine.snd_voices[0][1].sample, &app.song.samples[0]);
    EXPECT_EQ(audio_engine.snd_voices[0][1].octave, 4);
    EXPECT_EQ(audio_engine.snd_voices[0][1].semitone, 0);
    EXPECT_FLOAT_EQ(audio_engine.snd_voices[0][1].target_volume, 1.0f);
}

TEST_F(EditorTest, OctaveOffsetsOutsideTheRangeAreDropped) {
    app.editor.cur_octave = 8;
    tap('I');
    EXPECT_EQ(field(0, SND_FIELD_NOTE, 0), 0x80);
    app.editor.cur_octave = 0;
    tap('Z');
    EXPECT_EQ(field(0, SND_FIELD_NOTE, 1), 0x00);
    EXPECT_EQ(flags(0, 1), SND_HAS_NOTE | SND_HAS_SAMPLE);
}

TEST_F(EditorTest, TypingAtRowSixtyThreeStaysThere) {
    move_to(0, 63);
    tap('Q');
    EXPECT_EQ(field(0, SND_FIELD_NOTE, 63), 0x40);
    EXPECT_EQ(app.editor.cursor_row, 63);
    move_to(1, 63);
    tap('5');
    EXPECT_EQ(field(0, SND_FIELD_SAMPLE, 63), 5);
    EXPECT_EQ(app.editor.cursor_row, 63);
    tap(VK_DELETE);
    EXPECT_EQ(app.editor.cursor_row, 63);
    EXPECT_EQ(flags(0, 63) & SND_HAS_SAMPLE, 0);
}

TEST_F(EditorTest, OutsideEditModeNotesOnlyPreviewAndDigitsDoNothing) {
    tap(VK_SPACE);
    tap('Q');
    EXPECT_EQ(app.editor.cursor_row, 0);
    EXPECT_EQ(flags(0, 0), 0);
    EXPECT_EQ(audio_engine.snd_voices[0][0].active, 1) << "the note is heard";
    move_to(1, 0);
    type("5");
    move_to(3, 0);
    type("7");
    tap(VK_DELETE);
    EXPECT_EQ(app.editor.cursor_row, 0);
    static const uint8_t empty[SND_PATTERN_BYTES] = {};
    EXPECT_EQ(memcmp(pat()->bytes, empty, SND_PATTERN_BYTES), 0);
}

TEST_F(EditorTest, DigitsGoIntoSampleAndVolumeFieldsOneRowEach) {
    move_to(1, 0);
    type("3F");
    EXPECT_EQ(field(0, SND_FIELD_SAMPLE, 0), 3);
    EXPECT_EQ(field(0, SND_FIELD_SAMPLE, 1), 15) << "written as typed, without a check against the table";
    EXPECT_EQ(flags(0, 0), SND_HAS_SAMPLE);
    EXPECT_EQ(flags(0, 1), SND_HAS_SAMPLE);
    EXPECT_EQ(app.editor.cursor_row, 2);
    move_to(2, 0);
    type("A");
    EXPECT_EQ(field(0, SND_FIELD_VOLUME, 0), 10);
    EXPECT_EQ(flags(0, 0), SND_HAS_SAMPLE | SND_HAS_VOLUME);
    // Letters beyond F are not digits.
    move_to(2, 5);
    type("G");
    EXPECT_EQ(flags(0, 5), 0);
}

TEST_F(EditorTest, EffectFieldTakesDigitsInPairsAndCopiesTheLastParameter) {
    move_to(4, 0); // parameter of channel 0
    type("7C");
    EXPECT_EQ(field(0, SND_FIELD_PARAM, 0), 0x7C);
    EXPECT_EQ(app.editor.last_param, 0x7C);
    EXPECT_EQ(app.editor.cursor_row, 0) << "two-digit fields do not advance";

    move_to(8, 3); // effect of channel 1
    type("123");
    EXPECT_EQ(field(1, SND_FIELD_EFFECT, 3), 0x03);
    EXPECT_EQ(app.editor.half_entered, 1);
    EXPECT_EQ(field(1, SND_FIELD_PARAM, 3), 0x7C);
    EXPECT_EQ(flags(1, 3), SND_HAS_EFFECT | SND_HAS_PARAM);

    // Any other key in between starts the pair afresh; the arrows that reach the next field are such keys.
    tap(VK_DOWN);
    tap(VK_RIGHT);
    EXPECT_EQ(app.editor.cursor_col, 9);
    EXPECT_EQ(app.editor.half_entered, 0);
    type("4");
    tap(VK_SHIFT);
    type("5");
    EXPECT_EQ(field(1, SND_FIELD_PARAM, 4), 0x05);
}

TEST_F(EditorTest, DeleteClearsTheFieldOrTheWholeCell) {
    type("Q");
    move_to(2, 0);
    type("9");
    move_to(3, 0);
    type("12");
    move_to(3, 0);
    tap(VK_DELETE);
    EXPECT_EQ(field(0, SND_FIELD_EFFECT, 0), 0);
    EXPECT_EQ(flags(0, 0), SND_HAS_NOTE | SND_HAS_SAMPLE | SND_HAS_VOLUME | SND_HAS_PARAM);
    EXPECT_EQ(app.editor.cursor_row, 1);
    move_to(0, 0);
    tap(VK_DELETE);
    EXPECT_EQ(flags(0, 0), 0) << "a deleted note empties the cell";
    EXPECT_EQ(field(0, SND_FIELD_NOTE, 0), 0);
    EXPECT_EQ(field(0, SND_FIELD_SAMPLE, 0), 0);
    EXPECT_EQ(field(0, SND_FIELD_VOLUME, 0), 9) << "the other bytes keep their values";
}

TEST_F(EditorTest, DeleteClearsTheSelection) {
    for (int r = 0; r < 8; r++)
        for (int c = 0; c < 4; c++) {
            *snd_cell_field(pat(), c, SND_FIELD_NOTE, r) = 0x41;
            *snd_cell_flags(pat(), c, r) = SND_HAS_NOTE;
        }
    move_to(5, 2);
    down(VK_SHIFT);
    step();
    up(VK_SHIFT);
    move_to(12, 5); // channel 2
    tap(VK_DELETE);
    for (int r = 0; r < 8; r++)
        for (int c = 0; c < 4; c++) {
            const bool cleared = r >= 2 && r <= 5 && c >= 1 && c <= 2;
            EXPECT_EQ(flags(c, r), cleared ? 0 : SND_HAS_NOTE) << c << " " << r;
        }
    EXPECT_EQ(app.editor.sel_col, 5) << "the selection stays";
}

TEST_F(EditorTest, EmptySelectionDeletesOnlyTheField) {
    for (int c = 0; c < 4; c++) *snd_cell_flags(pat(), c, 4) = SND_HAS_NOTE;
    move_to(10, 4);
    down(VK_SHIFT);
    step();
    up(VK_SHIFT);
    move_to(5, 4); // a channel left of the anchor
    tap(VK_DELETE);
    EXPECT_EQ(flags(1, 4), 0);
    EXPECT_EQ(flags(2, 4), SND_HAS_NOTE);
    EXPECT_EQ(flags(3, 4), SND_HAS_NOTE);
}

TEST_F(EditorTest, CtrlNeverTypesANote) {
    down(VK_CONTROL);
    type("QZIX");
    up(VK_CONTROL);
    EXPECT_EQ(flags(0, 0), 0);
    EXPECT_EQ(app.editor.cursor_row, 0);
    EXPECT_EQ(os_last_key, 0);
}

TEST_F(EditorTest, CtrlFunctionKeysManagePatterns) {
    ctrl(fkey(3));
    ctrl(fkey(3));
    EXPECT_EQ(app.song.pattern_count, 3);
    EXPECT_EQ(app.song.pattern, 0);
    ctrl(fkey(2));
    ctrl(fkey(2));
    ctrl(fkey(2));
    EXPECT_EQ(app.song.pattern, 2);
    ctrl(fkey(1));
    EXPECT_EQ(app.song.pattern, 1);
    type("Q");
    EXPECT_EQ(flags(0, 0, 1), SND_HAS_NOTE | SND_HAS_SAMPLE) << "entries go into the current pattern";
    EXPECT_EQ(flags(0, 0, 0), 0);
    ctrl(fkey(2));
    ctrl(fkey(4)); // Ctrl+F4 deletes the last pattern while it is current
    EXPECT_EQ(app.song.pattern_count, 2);
    EXPECT_EQ(app.song.pattern, 1);
    ctrl(fkey(4));
    ctrl(fkey(4));
    EXPECT_EQ(app.song.pattern_count, 1) << "the last pattern left stays";
    EXPECT_EQ(app.song.pattern, 0);
    ctrl(fkey(1));
    EXPECT_EQ(app.song.pattern, 0);
}

TEST_F(EditorTest, CtrlF3WithAFullPatternTableDoesNothing) {
    while (app.song.pattern_count < SND_MAX_PATTERNS) snd_add_pattern(&app.song);
    snd_pattern* last = app.song.patterns[SND_MAX_PATTERNS - 1];
    ctrl(fkey(3));
    EXPECT_EQ(app.song.pattern_count, SND_MAX_PATTERNS);
    EXPECT_EQ(app.song.patterns[SND_MAX_PATTERNS - 1], last);
}

TEST_F(EditorTest, CtrlArrowsEditTheOrderList) {
    ctrl(fkey(3));
    ctrl(fkey(3));
    ctrl('A');
    ctrl('A');
    EXPECT_EQ(app.song.order_len, 3);
    ctrl(VK_UP);
    ctrl(VK_UP);
    ctrl(VK_UP);
    EXPECT_EQ(app.song.order[0], 2) << "entry stops at the last pattern";
    ctrl(VK_DOWN);
    EXPECT_EQ(app.song.order[0], 1);
    ctrl(VK_RIGHT);
    ctrl(VK_RIGHT);
    ctrl(VK_RIGHT);
    EXPECT_EQ(app.song.order_pos, 2);
    ctrl(VK_DOWN);
    EXPECT_EQ(app.song.order[2], 0);
    ctrl(VK_LEFT);
    EXPECT_EQ(app.song.order_pos, 1);
    EXPECT_EQ(app.editor.cursor_col, 0) << "Ctrl+arrows do not move the cursor";
    EXPECT_EQ(app.editor.cursor_row, 0);

    // Held Ctrl+Right repeats like a plain arrow.
    ctrl(VK_LEFT);
    down(VK_CONTROL);
    down(VK_RIGHT);
    step(15);
    EXPECT_EQ(app.song.order_pos, 1);
    step();
    EXPECT_EQ(app.song.order_pos, 2);
    up(VK_RIGHT);
    up(VK_CONTROL);
}

TEST_F(EditorTest, CtrlDDeletesTheCurrentEntryButKeepsTheLast) {
    ctrl(fkey(3));
    ctrl('A');
    ctrl(VK_RIGHT);
    ctrl(VK_UP);
    EXPECT_EQ(app.song.order[1], 1);
    ctrl('D');
    EXPECT_EQ(app.song.order_len, 1);
    EXPECT_EQ(app.song.order_pos, 0);
    EXPECT_EQ(app.song.order[0], 0);
    ctrl('D');
    EXPECT_EQ(app.song.order_len, 1);
    EXPECT_EQ(app.song.order_pos, 0);
}

// Keys pressed and released between two steps act once, Ctrl tapped with them included.
TEST_F(EditorTest, QuickTapsBetweenTwoStepsActOnce) {
    auto quick = [&](std::vector<int32_t> keys) {
        for (int32_t k : keys) down(k);
        for (auto k = keys.rbegin(); k != keys.rend(); ++k) up(*k);
        step(2);
    };
    quick({VK_DOWN});
    quick({'Q'});
    EXPECT_EQ(app.editor.cursor_row, 2);
    quick({VK_CONTROL, 'Z'});
    EXPECT_EQ(flags(0, 1), 0);
    quick({VK_RETURN});
    EXPECT_EQ(audio_engine.snd_players[0], &app.song);
    quick({VK_RETURN});
    EXPECT_EQ(audio_engine.snd_players[0], nullptr);
}

// After a stop every channel is pinned to the pattern that played. A command that then changes the current pattern
// frees the pins, so the grid shows where edits go; one that leaves the pattern alone keeps them.
TEST_F(EditorTest, ChangingThePatternAfterAStopFreesTheChannelPins) {
    const struct {
        const char* name;
        std::function<void()> command;
        bool freed;
    } commands[] = {
        {"Ctrl+F1", [&] { ctrl(fkey(1)); }, true},
        {"Ctrl+F4", [&] { ctrl(fkey(4)); }, true},
        {"Ctrl+Z of an edit made in pattern 0", [&] { ctrl('Z'); }, true},
        {"Ctrl+F3, Ctrl+Right, typing", [&] { ctrl(fkey(3)), ctrl(VK_RIGHT), type("Q"); }, false},
    };
    for (const auto& c : commands) {
        SCOPED_TRACE(c.name);
        ctrl('O');
        ctrl(fkey(3));
        ctrl(VK_UP); // pattern 0 is current, the order list plays pattern 1
        tap(VK_RETURN), play_blocks(3), step(), tap(VK_RETURN);
        ASSERT_EQ(app.song.pattern, 1);
        c.command();
        for (int32_t ch = 0; ch < SND_CHANNELS; ch++)
            EXPECT_EQ(audio_engine.snd_voices[0][ch].channel_pattern, c.freed ? -1 : 1) << ch;
    }
}

// Fills channels 0 and 1, rows 4..7, with distinct bytes in every plane.
static void fill_block(snd_pattern* p) {
    for (int r = 4; r <= 7; r++)
        for (int c = 0; c < 2; c++) {
            for (int f = 0; f < 5; f++) *snd_cell_field(p, c, f, r) = (uint8_t)(r * 16 + c * 5 + f);
            *snd_cell_flags(p, c, r) = (uint8_t)(r + c * 3); // a different mix of present bits per cell
        }
}

TEST_F(EditorTest, CopyAndPasteTwoChannelsFourRows) {
    fill_block(pat());
    move_to(0, 4);
    down(VK_SHIFT);
    step();
    move_to(7, 7);
    step();
    up(VK_SHIFT);
    ctrl('C');
    EXPECT_EQ(app.editor.clip_col, 0);
    EXPECT_EQ(app.editor.clip_col_end, 10);
    EXPECT_EQ(app.editor.clip_row, 4);
    EXPECT_EQ(app.editor.clip_row_end, 7);
    tap(VK_LEFT); // drop the selection
    move_to(13, 10);
    ctrl('V');
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 2; c++) {
            for (int f = 0; f < 5; f++)
                EXPECT_EQ(field(2 + c, f, 10 + r), field(c, f, 4 + r)) << c << " " << f << " " << r;
            EXPECT_EQ(flags(2 + c, 10 + r), flags(c, 4 + r)) << c << " " << r;
        }
    EXPECT_EQ(flags(2, 9), 0);
    EXPECT_EQ(flags(2, 14), 0);
}

TEST_F(EditorTest, PasteReadsTheSourceAtPasteTimeAndClearsAbsentBits) {
    fill_block(pat());
    app.editor.sel_col = 0;
    app.editor.sel_row = 4;
    move_to(0, 4);
    ctrl('C');
    *snd_cell_flags(pat(), 0, 4) = SND_HAS_VOLUME;
    *snd_cell_flags(pat(), 3, 20) = 0x1F;
    move_to(15, 20);
    ctrl('V');
    EXPECT_EQ(flags(3, 20), SND_HAS_VOLUME);
    EXPECT_EQ(field(3, SND_FIELD_VOLUME, 20), field(0, SND_FIELD_VOLUME, 4));
}

TEST_F(EditorTest, PasteDropsCellsBeyondTheGrid) {
    fill_block(pat());
    app.editor.sel_col = 0;
    app.editor.sel_row = 4;
    move_to(9, 7);
    ctrl('C');
    app.editor.sel_col = app.editor.sel_row = -1;
    move_to(15, 62); // channel 3, two rows left
    ctrl('V');
    EXPECT_EQ(field(3, SND_FIELD_NOTE, 62), field(0, SND_FIELD_NOTE, 4));
    EXPECT_EQ(field(3, SND_FIELD_PARAM, 63), field(0, SND_FIELD_PARAM, 5));
    EXPECT_EQ(flags(3, 63), flags(0, 5));
    // Channel 1 of the block would land beyond column 19, in the flag bytes, and rows 6..7 beyond row 63, in
    // the next plane: nothing there changed.
    EXPECT_EQ(flags(0, 62), 0);
    EXPECT_EQ(flags(0, 63), 0);
    EXPECT_EQ(field(3, SND_FIELD_SAMPLE, 0), 0);
    EXPECT_EQ(field(3, SND_FIELD_SAMPLE, 1), 0);
    EXPECT_EQ(flags(2, 63), 0);
}

TEST_F(EditorTest, PasteWithoutASelectionPastesNothing) {
    fill_block(pat());
    move_to(0, 4);
    ctrl('C'); // no selection: the block starts at -1
    EXPECT_EQ(app.editor.clip_row, -1);
    uint8_t before[SND_PATTERN_BYTES];
    memcpy(before, pat()->bytes, sizeof before);
    move_to(10, 20);
    ctrl('V');
    move_to(0, 0);
    ctrl('V');
    EXPECT_EQ(memcmp(before, pat()->bytes, sizeof before), 0);
    EXPECT_EQ(flags(2, 20), 0);
}

TEST_F(EditorTest, PasteFromADeletedPatternPastesNothing) {
    ctrl(fkey(3));
    ctrl(fkey(2));
    fill_block(pat(1));
    app.editor.sel_col = 0;
    app.editor.sel_row = 4;
    move_to(5, 7);
    ctrl('C');
    EXPECT_EQ(app.editor.clip_pattern, 1);
    ctrl(fkey(4));
    EXPECT_EQ(app.song.pattern_count, 1);
    move_to(0, 20);
    ctrl('V');
    static const uint8_t empty[SND_PATTERN_BYTES] = {};
    EXPECT_EQ(memcmp(pat(0)->bytes, empty, SND_PATTERN_BYTES), 0);
}

TEST_F(EditorTest, InvertedSelectionCopiesAnEmptyBlock) {
    fill_block(pat());
    app.editor.sel_col = 5;
    app.editor.sel_row = 7;
    move_to(0, 4); // above and left of the anchor
    ctrl('C');
    move_to(10, 30);
    ctrl('V');
    for (int r = 0; r < 64; r++) EXPECT_EQ(flags(2, r), 0) << r;
}

TEST_F(EditorTest, CursorFollowsPlaybackAndEntriesLandOnThePlayedRow) {
    tap(VK_RETURN);
    play_blocks(3 + 2 * 5); // row 0 with the third block, then a row every two blocks
    step();
    EXPECT_EQ(app.song.row, 5);
    EXPECT_EQ(app.editor.cursor_row, 5);
    type("Q");
    EXPECT_EQ(flags(0, 5), SND_HAS_NOTE | SND_HAS_SAMPLE);
    tap(VK_RETURN);
    EXPECT_EQ(audio_engine.snd_players[0], nullptr);
}

TEST_F(EditorTest, PreviewNeverReadsASampleBeyondTheTable) {
    app.editor.cur_sample = 12;
    tap(VK_SPACE);
    tap('Q');
    EXPECT_EQ(audio_engine.snd_voices[0][0].active, 0);
    tap(VK_SPACE);
    tap('Q');
    EXPECT_EQ(field(0, SND_FIELD_SAMPLE, 0), 12);
}

TEST_F(EditorTest, ButtonHeldWithoutCtrlRunsTheCommandGroup) {
    // While the mouse holds a button down the keys act as Ctrl commands: F3 adds a pattern.
    hl_push_mouse_move(app.btn_save.x + 10, app.btn_save.y + 10);
    hl_push_mouse_button(true);
    pump();
    hl_save_answer.clear();
    step();
    tap(fkey(3));
    hl_push_mouse_button(false);
    pump();
    step();
    EXPECT_EQ(app.song.pattern_count, 2);
    EXPECT_EQ(hl_dialogs, 1) << "the SAVE press fired once";
}

TEST_F(EditorTest, BackspaceWritesANoteCutInTheCursorsChannel) {
    type("Q");
    tap(VK_BACK);
    EXPECT_EQ(flags(0, 1), SND_HAS_EFFECT | SND_HAS_PARAM) << "only effect and parameter are written";
    EXPECT_EQ(field(0, SND_FIELD_EFFECT, 1), 0);
    EXPECT_EQ(field(0, SND_FIELD_PARAM, 1), 0);
    EXPECT_EQ(app.editor.cursor_row, 2);
    // From any field of a channel, over an effect that was there; the note in the row stays.
    move_to(10, 5);
    type("Q");
    move_to(13, 5);
    type("37");
    move_to(14, 5);
    tap(VK_BACK);
    EXPECT_EQ(flags(2, 5), SND_HAS_NOTE | SND_HAS_SAMPLE | SND_HAS_EFFECT | SND_HAS_PARAM);
    EXPECT_EQ(field(2, SND_FIELD_EFFECT, 5), 0);
    EXPECT_EQ(field(2, SND_FIELD_PARAM, 5), 0);
    // Outside edit mode it writes nothing.
    tap(VK_SPACE);
    move_to(5, 9);
    tap(VK_BACK);
    EXPECT_EQ(flags(1, 9), 0);
    EXPECT_EQ(app.editor.cursor_row, 9);
}

TEST_F(EditorTest, EditStepMovesTheCursorAfterNotesDigitsAndCuts) {
    EXPECT_EQ(app.editor.edit_step, 1);
    const struct {
        int32_t key;  // Ctrl with it
        int32_t step; // edit step afterwards
    } cases[] = {{'4', 4}, {'0', 0}, {'8', 8}, {'9', 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const int32_t depth = app_undo_depth();
        ctrl(c.key);
        EXPECT_EQ(app.editor.edit_step, c.step);
        EXPECT_EQ(app_undo_depth(), depth) << "setting the step is no edit";
        move_to(0, 10);
        type("Q");
        EXPECT_EQ(app.editor.cursor_row, 10 + c.step) << "note";
        move_to(1, 20);
        type("3");
        EXPECT_EQ(app.editor.cursor_row, 20 + c.step) << "sample digit";
        move_to(2, 30);
        tap(VK_BACK);
        EXPECT_EQ(app.editor.cursor_row, 30 + c.step) << "note cut";
        move_to(3, 40);
        type("12");
        EXPECT_EQ(app.editor.cursor_row, 40) << "two-digit fields stay on their row";
        move_to(0, 62);
        type("W");
        EXPECT_EQ(app.editor.cursor_row, c.step ? 63 : 62) << "never past the last row";
    }
}

// Edge cases of moving one note byte: the range is C-0..B-9, and a byte that is no such note stays as it is.
TEST(EditorTranspose, NotesStayWithinTheNoteRange) {
    const struct {
        uint8_t note;
        int32_t semitones;
        uint8_t result;
    } cases[] = {
        {0x40, 1, 0x41},   {0x4B, 1, 0x50}, {0x50, -1, 0x4B}, {0x47, 12, 0x57}, {0x47, -12, 0x37}, {0x00, -1, 0x00},
        {0x10, -12, 0x00}, {0x9B, 1, 0x9B}, {0x8B, 12, 0x9B}, {0x4C, 1, 0x4C},  {0xA0, -1, 0xA0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(app_transpose_note(c.note, c.semitones), c.result)
            << std::hex << (int)c.note << " by " << std::dec << c.semitones;
}

TEST_F(EditorTest, TransposeMovesTheSelectionOrTheCursorsChannel) {
    const uint8_t start[3][4] = {{0x40, 0x4B, 0x9B, 0x00}, {0x41, 0x42, 0x43, 0x44}, {0x50, 0x51, 0x52, 0x53}};
    for (int32_t c = 0; c < 3; c++)
        for (int32_t r = 0; r < 4; r++) {
            *snd_cell_field(pat(), c, SND_FIELD_NOTE, r) = start[c][r];
            *snd_cell_flags(pat(), c, r) = SND_HAS_NOTE;
        }
    *snd_cell_field(pat(), 0, SND_FIELD_NOTE, 5) = 0x45; // a note byte whose cell has no note
    auto notes = [&](int32_t c) {
        std::vector<uint8_t> out;
        for (int32_t r = 0; r < 4; r++) out.push_back(field(c, SND_FIELD_NOTE, r));
        return out;
    };
    // No selection: the cursor's whole channel, from any of its fields.
    move_to(3, 40);
    ctrl(fkey(6));
    EXPECT_EQ(notes(0), (std::vector<uint8_t>{0x41, 0x50, 0x9B, 0x01})) << "B-9 stays";
    EXPECT_EQ(field(0, SND_FIELD_NOTE, 5), 0x45) << "an empty cell is no note";
    EXPECT_EQ(notes(1), (std::vector<uint8_t>{0x41, 0x42, 0x43, 0x44}));
    ctrl(fkey(5));
    EXPECT_EQ(notes(0), (std::vector<uint8_t>{0x40, 0x4B, 0x9A, 0x00}));
    // A selection: channels 1 and 2, rows 1..2.
    move_to(5, 1);
    down(VK_SHIFT);
    step();
    move_to(12, 2);
    step();
    up(VK_SHIFT);
    ctrl(fkey(8));
    EXPECT_EQ(notes(0), (std::vector<uint8_t>{0x40, 0x4B, 0x9A, 0x00}));
    EXPECT_EQ(notes(1), (std::vector<uint8_t>{0x41, 0x52, 0x53, 0x44}));
    EXPECT_EQ(notes(2), (std::vector<uint8_t>{0x50, 0x61, 0x62, 0x53}));
    ctrl(fkey(7));
    ctrl(fkey(7));
    EXPECT_EQ(notes(1), (std::vector<uint8_t>{0x41, 0x32, 0x33, 0x44}));
    EXPECT_EQ(app_undo_depth(), 5);
    for (int i = 0; i < 5; i++) ctrl('Z');
    for (int32_t c = 0; c < 3; c++)
        EXPECT_EQ(notes(c), std::vector<uint8_t>(start[c], start[c] + 4)) << "undone, channel " << c;
}

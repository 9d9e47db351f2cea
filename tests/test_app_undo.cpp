// Undo and redo through Ctrl+Z, Ctrl+Y and Ctrl+Shift+Z: every kind of edit back to the exact bytes and forward
// again, the cursor back where the edit happened, the number of steps and the memory they hold, and undo while
// the audio thread plays the song.
#include "app_fixture.h"

#include <functional>
#include <vector>

namespace {

// The song as a module keeps it: the order list and the bytes of every pattern.
std::vector<uint8_t> song_bytes() {
    const snd_song& s = app.song;
    std::vector<uint8_t> out;
    out.push_back(s.pattern_count);
    out.push_back((uint8_t)(s.order_len >> 8));
    out.push_back((uint8_t)s.order_len);
    out.insert(out.end(), s.order, s.order + s.order_len);
    for (int32_t p = 0; p < s.pattern_count; p++)
        out.insert(out.end(), s.patterns[p]->bytes, s.patterns[p]->bytes + SND_PATTERN_BYTES);
    return out;
}

class UndoTest : public AppTest {
protected:
    void undo() { ctrl('Z'); }
    void redo() { ctrl('Y'); }
    void redo_with_shift() {
        down(VK_CONTROL);
        down(VK_SHIFT);
        tap('Z');
        up(VK_SHIFT);
        up(VK_CONTROL);
    }
    // Anchors a selection at (col, row) and moves the cursor to (to_col, to_row), as Shift+arrows would.
    void select(int32_t col, int32_t row, int32_t to_col, int32_t to_row) {
        tap(VK_LEFT);
        move_to(col, row);
        down(VK_SHIFT);
        step();
        move_to(to_col, to_row);
        step();
        up(VK_SHIFT);
    }
};

TEST_F(UndoTest, EveryEditGoesBackToTheExactBytesAndForwardAgain) {
    // Each edit is one undo step.
    const struct {
        const char* name;
        std::function<void()> edit;
    } edits[] = {
        {"note", [&] { move_to(0, 2), type("Q"); }},
        {"note over a note", [&] { move_to(0, 2), type("W"); }},
        {"sample digit", [&] { move_to(1, 2), type("3"); }},
        {"volume digit", [&] { move_to(7, 4), type("C"); }},
        {"first effect digit", [&] { move_to(3, 5), type("4"); }},
        {"second effect digit", [&] { type("7"); }},
        {"parameter", [&] { move_to(4, 5), type("A"); }},
        {"delete a field", [&] { move_to(1, 2), tap(VK_DELETE); }},
        {"delete a whole cell", [&] { move_to(0, 2), tap(VK_DELETE); }},
        {"delete a selection", [&] { select(0, 4, 8, 5), tap(VK_DELETE); }},
        {"note to copy", [&] { move_to(0, 0), type("E"); }},
        {"paste", [&] { select(0, 0, 0, 5), ctrl('C'), tap(VK_LEFT), move_to(12, 60), ctrl('V'); }},
        {"add a pattern", [&] { ctrl(fkey(3)); }},
        {"note in the new pattern", [&] { ctrl(fkey(2)), move_to(15, 7), type("Z"); }},
        {"order entry up", [&] { ctrl(VK_UP); }},
        {"append an order entry", [&] { ctrl('A'); }},
        {"second entry up", [&] { ctrl(VK_RIGHT), ctrl(VK_UP); }},
        {"append another", [&] { ctrl('A'); }},
        {"delete an order entry", [&] { ctrl(VK_LEFT), ctrl('D'); }},
        {"delete a pattern the order list names", [&] { ctrl(fkey(4)); }},
    };
    std::vector<std::vector<uint8_t>> states{song_bytes()};
    for (const auto& e : edits) {
        e.edit();
        ASSERT_NE(song_bytes(), states.back()) << e.name << " changed nothing";
        states.push_back(song_bytes());
        ASSERT_EQ(app_undo_depth(), (int32_t)states.size() - 1) << e.name << " is not one step";
    }
    EXPECT_TRUE(app_song_changed());

    for (size_t i = states.size() - 1; i > 0; i--) {
        undo();
        ASSERT_EQ(song_bytes(), states[i - 1]) << "undo of " << edits[i - 1].name;
        ASSERT_LT(app.song.pattern, app.song.pattern_count);
        ASSERT_LT(app.song.order_pos, app.song.order_len);
    }
    EXPECT_FALSE(app_song_changed()) << "back to the song as it was created";
    undo();
    EXPECT_EQ(song_bytes(), states[0]) << "nothing left to undo";

    for (size_t i = 1; i < states.size(); i++) {
        if (i % 2)
            redo();
        else
            redo_with_shift();
        ASSERT_EQ(song_bytes(), states[i]) << "redo of " << edits[i - 1].name;
    }
    redo();
    EXPECT_EQ(song_bytes(), states.back()) << "nothing left to redo";
    EXPECT_EQ(log.asserts(), 0) << log.text();
}

TEST_F(UndoTest, CursorAndPatternGoBackToWhereTheEditHappened) {
    ctrl(fkey(3));
    ctrl(fkey(2));
    move_to(5, 9);
    type("Q");
    ctrl(fkey(1));
    move_to(12, 30);
    app.editor.sel_col = 10;
    app.editor.sel_row = 20;
    undo();
    EXPECT_EQ(app.song.pattern, 1);
    EXPECT_EQ(app.editor.cursor_col, 5);
    EXPECT_EQ(app.editor.cursor_row, 9);
    EXPECT_EQ(app.editor.sel_col, -1) << "a selection anchored elsewhere is dropped";
    EXPECT_EQ(flags(1, 9, 1), 0);
    redo();
    EXPECT_EQ(app.editor.cursor_row, 10) << "redo leaves the cursor where typing left it";
    EXPECT_EQ(field(1, SND_FIELD_NOTE, 9, 1), 0x40);

    // A new edit after an undo ends the redo.
    undo();
    type("W");
    EXPECT_EQ(app_redo_depth(), 0);
    redo();
    EXPECT_EQ(field(1, SND_FIELD_NOTE, 9, 1), 0x42);
    EXPECT_EQ(app_undo_depth(), 2);
}

// The bounds, driven through the undo module directly: hundreds of editor steps through the key table would
// mostly measure the drawing.
class UndoBoundsTest : public UndoTest {
protected:
    // One editor step that writes value at offset of every byte in [from, to) of pattern index.
    void edit(int32_t index, int32_t from, int32_t to, uint8_t value) {
        app_lock();
        app_undo_begin();
        app_undo_note_pattern(index);
        for (int32_t i = from; i < to; i++) pat(index)->bytes[i] = value;
        app_undo_commit();
        app_unlock();
    }
    void undo_all(int32_t n, bool forward) {
        app_lock();
        for (int32_t i = 0; i < n; i++) forward ? app_redo() : app_undo();
        app_unlock();
    }
};

TEST_F(UndoBoundsTest, KeepsTheNewestStepsUpToItsLimit) {
    static_assert(APP_UNDO_STEPS >= 200);
    const int32_t edits = APP_UNDO_STEPS + 44;
    for (int32_t i = 0; i < edits; i++) edit(0, 0, 1, (uint8_t)(i + 1));
    EXPECT_EQ(app_undo_depth(), APP_UNDO_STEPS);
    // A changed byte costs a few bytes, not a pattern.
    EXPECT_LE(app_undo_bytes(), APP_UNDO_STEPS * 64);
    undo_all(APP_UNDO_STEPS, false);
    EXPECT_EQ(app_undo_depth(), 0);
    EXPECT_EQ(pat(0)->bytes[0], 44) << "the state after the 44th edit";
    undo_all(1, false);
    EXPECT_EQ(pat(0)->bytes[0], 44);
    EXPECT_TRUE(app_song_changed()) << "the fresh song is out of reach";
    undo_all(APP_UNDO_STEPS, true);
    EXPECT_EQ(pat(0)->bytes[0], (uint8_t)edits);
    EXPECT_EQ(app_redo_depth(), 0);
    // Through the keys as well.
    ctrl('Z');
    EXPECT_EQ(pat(0)->bytes[0], (uint8_t)(edits - 1));
}

TEST_F(UndoBoundsTest, MemoryStaysWithinTheBudget) {
    struct Restore {
        ~Restore() { app_undo_budget = APP_UNDO_BUDGET; }
    } restore;
    app_undo_budget = 64 * 1024;
    // Steps that each change 768 bytes, as a paste of 32 rows of four channels does.
    std::vector<std::vector<uint8_t>> states;
    for (int32_t i = 0; i < 40; i++) {
        edit(0, 0, 768, (uint8_t)(i + 1));
        states.push_back(song_bytes());
        ASSERT_LE(app_undo_bytes(), app_undo_budget) << i;
    }
    const int32_t depth = app_undo_depth();
    EXPECT_GE(depth, 8);
    EXPECT_LT(depth, 40) << "the oldest steps went";
    undo_all(depth, false);
    EXPECT_EQ(song_bytes(), states[40 - depth - 1]);
    undo_all(depth, true);
    EXPECT_EQ(song_bytes(), states.back());
    // With the full budget, 200 such steps fit: far beyond any paste.
    app_undo_budget = APP_UNDO_BUDGET;
    for (int32_t i = 0; i < 200; i++) edit(0, 0, SND_PATTERN_BYTES, (uint8_t)(i % 2 ? 0x11 : 0x22));
    EXPECT_GE(app_undo_depth(), 200);
    EXPECT_LE(app_undo_bytes(), APP_UNDO_BUDGET);
}

// The audio thread plays the song while steps are undone and redone: cells, a new pattern and an order entry
// the player is reading.
TEST_F(UndoTest, UndoAndRedoWhileTheSongPlays) {
    type("QWER");
    tap(VK_RETURN);
    ASSERT_NE(snd_players[0], nullptr);
    play_blocks(5);
    step();
    const int32_t row = app.editor.cursor_row;
    const uint8_t note_before = field(0, SND_FIELD_NOTE, row);
    const uint8_t flags_before = flags(0, row);
    type("T");
    EXPECT_EQ(field(0, SND_FIELD_NOTE, row), 0x47);
    ctrl(fkey(3));
    ctrl(VK_UP); // the order list now plays the new, empty pattern
    play_blocks(4);
    step();
    undo();
    undo();
    EXPECT_EQ(app.song.pattern_count, 1);
    EXPECT_EQ(app.song.order[0], 0);
    play_blocks(4);
    step();
    EXPECT_EQ(app.song.pattern, 0);
    undo();
    EXPECT_EQ(flags(0, row, 0), flags_before);
    EXPECT_EQ(field(0, SND_FIELD_NOTE, row, 0), note_before);
    EXPECT_EQ(app.editor.cursor_col, 0);
    play_blocks(3);
    step();
    redo();
    redo();
    redo();
    play_blocks(4);
    step();
    EXPECT_EQ(snd_players[0], &app.song) << "undo and redo do not stop the song";
    EXPECT_EQ(field(0, SND_FIELD_NOTE, row, 0), 0x47);
    EXPECT_EQ(app.song.pattern_count, 2);
    EXPECT_EQ(app.song.order[0], 1);
    EXPECT_EQ(app.song.pattern, 1) << "the player follows the order entry again";
    tap(VK_RETURN);
}

} // namespace

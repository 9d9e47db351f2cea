// Undo and redo: every kind of edit (note cuts and transposes among them) back to the exact bytes and forward again,
// the cursor back where the edit happened, the number of steps and the memory they hold, and undo while the audio
// thread plays the song.
#include "app_fixture.h"

#include <cstring>
#include <functional>
#include <vector>

namespace {

// The song as a module keeps it: the order list and the bytes of every pattern.
std::vector<uint8_t> song_bytes() {
    const snd_song& s = app.song;
    std::vector<uint8_t> out(s.order, s.order + s.order_len);
    out.push_back(s.pattern_count);
    for (int32_t p = 0; p < s.pattern_count; p++)
        out.insert(out.end(), s.patterns[p]->bytes, s.patterns[p]->bytes + SND_PATTERN_BYTES);
    return out;
}

using UndoTest = AppTest;

TEST_F(UndoTest, EveryEditGoesBackToTheExactBytesAndForwardAgain) {
    auto select = [&](int32_t col, int32_t row, int32_t to_col, int32_t to_row) {
        tap(VK_LEFT), move_to(col, row), down(VK_SHIFT), step(), move_to(to_col, to_row), step(), up(VK_SHIFT);
    };
    const struct {
        const char* name;
        std::function<void()> edit; // one undo step each
    } edits[] = {
        {"note", [&] { move_to(0, 2), type("Q"); }},
        {"note over a note", [&] { move_to(0, 2), type("W"); }},
        {"volume digit", [&] { move_to(7, 4), type("C"); }},
        {"first effect digit", [&] { move_to(3, 5), type("4"); }},
        {"second effect digit", [&] { type("7"); }},
        {"note cut", [&] { move_to(8, 9), tap(VK_BACK); }},
        {"note at edit step 4", [&] { ctrl('4'), move_to(0, 20), type("E"), ctrl('1'); }},
        {"transpose the cursor's channel", [&] { move_to(2, 30), ctrl(fkey(6)); }},
        {"transpose a selection", [&] { select(0, 0, 4, 21), ctrl(fkey(7)), tap(VK_DOWN); }},
        {"delete a field", [&] { move_to(1, 2), tap(VK_DELETE); }},
        {"delete a selection", [&] { select(0, 4, 8, 5), tap(VK_DELETE); }},
        {"paste, partly beyond the grid",
         [&] { select(0, 0, 0, 5), ctrl('C'), tap(VK_LEFT), move_to(12, 60), ctrl('V'); }},
        {"add a pattern", [&] { ctrl(fkey(3)); }},
        {"note in it", [&] { ctrl(fkey(2)), move_to(15, 7), type("Z"); }},
        {"order entry up", [&] { ctrl(VK_UP); }},
        {"append an order entry", [&] { ctrl('A'); }},
        {"second entry up", [&] { ctrl(VK_RIGHT), ctrl(VK_UP); }},
        {"delete an order entry", [&] { ctrl(VK_LEFT), ctrl('D'); }},
        {"delete the pattern the order list names", [&] { ctrl(fkey(4)); }},
    };
    std::vector<std::vector<uint8_t>> states{song_bytes()};
    for (const auto& e : edits) {
        e.edit();
        ASSERT_NE(song_bytes(), states.back()) << e.name;
        states.push_back(song_bytes());
        ASSERT_EQ(app_undo_depth(), (int32_t)states.size() - 1) << e.name << " is not one step";
    }
    for (size_t i = states.size() - 1; i > 0; i--) {
        ctrl('Z');
        ASSERT_EQ(song_bytes(), states[i - 1]) << "undo of " << edits[i - 1].name;
    }
    EXPECT_FALSE(app_song_changed()) << "back to the song as it was created";
    for (size_t i = 1; i < states.size(); i++) {
        i % 2 ? ctrl('Y') : (down(VK_SHIFT), ctrl('Z'), up(VK_SHIFT));
        ASSERT_EQ(song_bytes(), states[i]) << "redo of " << edits[i - 1].name;
    }
    ctrl('Y');
    EXPECT_EQ(song_bytes(), states.back()) << "nothing left to redo";
}

TEST_F(UndoTest, CursorAndPatternGoBackToWhereTheEditHappened) {
    ctrl(fkey(3));
    ctrl(fkey(2));
    move_to(5, 9);
    type("Q");
    ctrl(fkey(1));
    move_to(12, 30);
    ctrl('Z');
    EXPECT_EQ(app.song.pattern, 1);
    EXPECT_EQ(app.editor.cursor_col, 5);
    EXPECT_EQ(app.editor.cursor_row, 9);
    EXPECT_EQ(flags(1, 9, 1), 0);
    ctrl('Y');
    EXPECT_EQ(app.editor.cursor_row, 10) << "redo leaves the cursor where typing left it";
    ctrl('Z');
    type("W"); // a new edit ends the redo
    EXPECT_EQ(app_redo_depth(), 0);
    EXPECT_EQ(field(1, SND_FIELD_NOTE, 9, 1), 0x42);
}

// Hundreds of steps through the undo module directly: through the key table they would mostly measure drawing.
TEST_F(UndoTest, StepsAndMemoryStayWithinTheirBounds) {
    auto edit = [&](int32_t bytes, uint8_t value) {
        app_lock();
        app_undo_begin();
        app_undo_note_pattern(0);
        memset(pat(0)->bytes, value, (size_t)bytes);
        app_undo_commit();
        app_unlock();
    };
    auto undo_redo = [&](int32_t n, bool redo) {
        app_lock();
        for (int32_t i = 0; i < n; i++) redo ? app_redo() : app_undo();
        app_unlock();
    };
    static_assert(APP_UNDO_STEPS >= 200);
    for (int32_t i = 1; i <= APP_UNDO_STEPS + 44; i++) edit(1, (uint8_t)i);
    EXPECT_EQ(app_undo_depth(), APP_UNDO_STEPS);
    EXPECT_LE(app_undo_bytes(), APP_UNDO_STEPS * 64) << "a changed byte costs a few bytes, not a pattern";
    undo_redo(APP_UNDO_STEPS + 1, false);
    EXPECT_EQ(pat(0)->bytes[0], 44) << "the oldest steps went first";
    EXPECT_TRUE(app_song_changed()) << "the fresh song is out of reach";

    // 200 steps that change a whole pattern fit; under a smaller budget the oldest go.
    for (int32_t i = 0; i < 200; i++) edit(SND_PATTERN_BYTES, (uint8_t)(i % 2 + 1));
    EXPECT_EQ(app_undo_depth(), 200);
    EXPECT_LE(app_undo_bytes(), APP_UNDO_BUDGET);
    struct Restore {
        ~Restore() { app_undo_budget = APP_UNDO_BUDGET; }
    } restore;
    app_undo_budget = 64 * 1024;
    edit(SND_PATTERN_BYTES, 7);
    EXPECT_LE(app_undo_bytes(), app_undo_budget);
    const int32_t depth = app_undo_depth();
    EXPECT_GE(depth, 7);
    undo_redo(depth, false);
    EXPECT_EQ(pat(0)->bytes[0], depth % 2 ? 2 : 1);
    undo_redo(depth, true);
    EXPECT_EQ(pat(0)->bytes[0], 7);
}

// The audio thread plays the song while cells, a new pattern and the order entry it reads are undone and redone.
TEST_F(UndoTest, UndoAndRedoWhileTheSongPlays) {
    type("QWER");
    tap(VK_RETURN);
    play_blocks(5);
    step();
    const int32_t row = app.editor.cursor_row;
    const std::vector<uint8_t> before = song_bytes();
    type("T");
    ctrl(fkey(3));
    ctrl(VK_UP); // the order list now plays the new, empty pattern
    play_blocks(4);
    step();
    for (int i = 0; i < 3; i++) ctrl('Z'), play_blocks(2), step();
    EXPECT_EQ(song_bytes(), before);
    EXPECT_EQ(app.song.pattern, 0);
    for (int i = 0; i < 3; i++) ctrl('Y'), play_blocks(2), step();
    EXPECT_EQ(audio_engine.snd_players[0], &app.song) << "undo and redo do not stop the song";
    EXPECT_EQ(field(0, SND_FIELD_NOTE, row, 0), 0x47);
    EXPECT_EQ(app.song.pattern, 1) << "the player follows the order entry again";
    tap(VK_RETURN);
}

} // namespace

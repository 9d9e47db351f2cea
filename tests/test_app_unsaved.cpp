// Unsaved work: whether the song has changed since it was created, loaded or saved, the window title that shows
// it, the save question before NEW, LOAD or closing the window, and paths longer than 256 characters.
#include "app_fixture.h"

#include <functional>
#include <string>

namespace {

using UnsavedTest = AppTest;

TEST_F(UnsavedTest, ChangesFollowEditsSavesAndUndoAndShowInTheTitle) {
    const std::string tune = (dir / "tune.qvl").string();
    const struct {
        const char* name;
        std::function<void()> action;
        bool changed;
        const char* title;
    } script[] = {
        {"no edits", [&] { tap(VK_DOWN), tap(fkey(5)), tap(VK_RETURN), play_blocks(3), step(), tap(VK_RETURN); }, false,
         "QuavloII"},
        {"type a note", [&] { type("Q"); }, true, "QuavloII *"},
        {"undo it", [&] { ctrl('Z'); }, false, "QuavloII"},
        {"redo it", [&] { ctrl('Y'); }, true, "QuavloII *"},
        {"save", [&] { hl_save_answer = tune, ctrl('S'); }, false, "QuavloII - tune.qvl"},
        {"type another", [&] { type("W"); }, true, "QuavloII - tune.qvl *"},
        {"undo to the saved song", [&] { ctrl('Z'); }, false, "QuavloII - tune.qvl"},
        {"undo past it", [&] { ctrl('Z'); }, true, "QuavloII - tune.qvl *"},
        {"export a header",
         [&] { hl_save_type = OS_FILE_HEADER, hl_save_answer = (dir / "tune.h").string(), ctrl('S'); }, true,
         "QuavloII - tune.qvl *"},
        {"start a new song", [&] { ctrl('O'); }, false, "QuavloII"},
        {"load", [&] { hl_open_answer = tune, ctrl('L'); }, false, "QuavloII - tune.qvl"},
        {"add a pattern", [&] { ctrl(fkey(3)); }, true, "QuavloII - tune.qvl *"},
    };
    for (const auto& s : script) {
        s.action();
        EXPECT_EQ(app_song_changed(), s.changed) << s.name;
        EXPECT_EQ(hl_title, s.title) << s.name;
    }
    EXPECT_EQ(app_undo_depth(), 1) << "the load started a fresh history";
    EXPECT_EQ(hl_questions, 1) << "asked only before the new song";
}

// Every answer to the question, before each command that would discard the song.
TEST_F(UnsavedTest, QuestionBeforeNewLoadAndClose) {
    const std::string saved = (dir / "saved.qvl").string(), other = (dir / "other.qvl").string();
    ASSERT_EQ(save_module(other.c_str(), &app.song), 1); // an empty song
    const char* commands[] = {"Ctrl+O", "NEW button", "Ctrl+L", "closing the window"};
    const struct {
        int answer;
        const char* save_to; // the save dialog's answer; "" cancels it
        bool goes_on;
    } answers[] = {{OS_ANSWER_CANCEL, "", false},
                   {OS_ANSWER_DISCARD, "", true},
                   {OS_ANSWER_SAVE, "saved.qvl", true},
                   {OS_ANSWER_SAVE, "", false},
                   {OS_ANSWER_SAVE, "no/dir.qvl", false}};
    for (int command = 0; command < 4; command++)
        for (const auto& a : answers) {
            SCOPED_TRACE(std::string(commands[command]) + ", answer " + std::to_string(a.answer) + ", " + a.save_to);
            hl_ask_answer = OS_ANSWER_DISCARD;
            ctrl('O');
            std::filesystem::remove(saved);
            move_to(0, 0);
            type("Q");
            hl_ask_answer = a.answer;
            hl_save_answer = a.save_to[0] ? (dir / a.save_to).string() : "";
            hl_open_answer = other;
            const int32_t questions = hl_questions, dialogs = hl_dialogs;
            int quit = -1;
            if (command == 0) ctrl('O');
            if (command == 1) click(app.btn_new);
            if (command == 2) ctrl('L');
            if (command == 3) quit = app_confirm_quit();
            EXPECT_EQ(hl_questions, questions + 1);
            EXPECT_EQ(hl_question_caption, "Unsaved changes");
            EXPECT_EQ(std::filesystem::exists(saved), a.save_to == std::string("saved.qvl"));
            // The open dialog appears only once the song may go.
            const bool saving = a.answer == OS_ANSWER_SAVE;
            EXPECT_EQ(hl_dialogs, dialogs + saving + (command == 2 && a.goes_on));
            EXPECT_EQ(quit, command == 3 ? (int)a.goes_on : -1);
            const bool replaced = command < 3 && a.goes_on;
            EXPECT_EQ(flags(0, 0), replaced ? 0 : SND_HAS_NOTE | SND_HAS_SAMPLE);
            EXPECT_EQ(app_song_changed(), !replaced && !(saving && a.goes_on));
        }
    EXPECT_EQ(hl_message_text, "Can not save");
    expected_asserts = log.asserts(); // each failing write is an assertion in the module writer
}

// Paths up to the platform's limit are saved and loaded; a longer one is refused aloud, never taken as a cancel.
TEST_F(UnsavedTest, LongPathsAreUsedOrRefusedAloud) {
    std::filesystem::path deep = dir;
    while (deep.string().size() < 1200) deep /= std::string(200, 'd');
    std::filesystem::create_directories(deep);
    type("Q");
    hl_save_answer = (deep / "long tune.qvl").string();
    ctrl('S');
    EXPECT_EQ(hl_title, "QuavloII - long tune.qvl");
    type("W");
    hl_open_answer = hl_save_answer;
    ctrl('L');
    EXPECT_EQ(flags(0, 0), SND_HAS_NOTE | SND_HAS_SAMPLE);
    EXPECT_EQ(flags(0, 1), 0) << "the saved song came back";

    const std::string too_long = dir.string() + "/" + std::string(OS_PATH_CHARS, 'x') + ".qvl";
    move_to(0, 1);
    type("E");
    hl_save_answer = hl_open_answer = too_long;
    ctrl('S');
    EXPECT_EQ(hl_message_text, "Can not save");
    ctrl('L');
    EXPECT_EQ(hl_message_text, "Can not load");
    EXPECT_EQ(hl_message_boxes, 2);
    EXPECT_EQ(field(0, SND_FIELD_NOTE, 1), 0x44) << "the song stays";
}

} // namespace

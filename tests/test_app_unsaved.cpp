// Unsaved work: whether the song has changed since it was created, loaded or saved, the window title that shows
// it, the save question before NEW, LOAD or closing the window would discard it, and paths longer than the
// dialogs' old 256 characters.
#include "app_fixture.h"

#include <functional>
#include <string>
#include <vector>

namespace {

class UnsavedTest : public AppTest {
protected:
    std::string path(const std::string& name) { return (dir / name).string(); }

    // A module on disk with one note, E-4 in channel 0, row 5.
    std::string other_song() {
        snd_song s;
        snd_create_song(&s, 1);
        *snd_cell_flags(s.patterns[0], 0, 5) = SND_HAS_NOTE;
        *snd_cell_field(s.patterns[0], 0, SND_FIELD_NOTE, 5) = 0x44;
        const std::string p = path("other.qvl");
        EXPECT_EQ(save_module(p.c_str(), &s), 1);
        snd_free_song(&s);
        return p;
    }
};

TEST_F(UnsavedTest, ChangesFollowEditsSavesAndUndoAndShowInTheTitle) {
    step();
    EXPECT_FALSE(app_song_changed());
    EXPECT_EQ(hl_titles, 0) << "a fresh song keeps the window's own title";
    const struct {
        const char* name;
        std::function<void()> action;
        bool changed;
        const char* title;
    } script[] = {
        {"type a note", [&] { type("Q"); }, true, "QuavloII *"},
        {"undo it", [&] { ctrl('Z'); }, false, "QuavloII"},
        {"redo it", [&] { ctrl('Y'); }, true, "QuavloII *"},
        {"save", [&] { hl_save_answer = path("tune.qvl"), ctrl('S'); }, false, "QuavloII - tune.qvl"},
        {"type another", [&] { type("W"); }, true, "QuavloII - tune.qvl *"},
        {"undo to the saved song", [&] { ctrl('Z'); }, false, "QuavloII - tune.qvl"},
        {"undo past it", [&] { ctrl('Z'); }, true, "QuavloII - tune.qvl *"},
        {"export a header", [&] { hl_save_type = OS_FILE_HEADER, hl_save_answer = path("tune.h"), ctrl('S'); }, true,
         "QuavloII - tune.qvl *"},
        {"fail to save", [&] { hl_save_type = OS_FILE_MODULE, hl_save_answer = path("no/dir.qvl"), ctrl('S'); }, true,
         "QuavloII - tune.qvl *"},
        {"start a new song", [&] { ctrl('O'); }, false, "QuavloII"},
        {"load", [&] { hl_open_answer = other_song(), ctrl('L'); }, false, "QuavloII - other.qvl"},
        {"fail to load", [&] { hl_open_answer = path("absent.qvl"), ctrl('L'); }, false, "QuavloII - other.qvl"},
        {"add a pattern", [&] { ctrl(fkey(3)); }, true, "QuavloII - other.qvl *"},
    };
    for (const auto& s : script) {
        s.action();
        EXPECT_EQ(app_song_changed(), s.changed) << s.name;
        EXPECT_EQ(hl_title, s.title) << s.name;
    }
    EXPECT_EQ(app_undo_depth(), 1) << "the load started a fresh history";
    EXPECT_EQ(hl_questions, 1) << "asked once, before the new song, and answered Discard";
    expected_asserts = log.asserts(); // the failing save counts as one in the writer
}

TEST_F(UnsavedTest, WhatIsNotAnEditLeavesTheSongUnchanged) {
    hl_save_answer = path("kept.qvl");
    const std::vector<std::pair<const char*, std::function<void()>>> actions = {
        {"cursor", [&] { tap(VK_DOWN), tap(VK_RIGHT); }},
        {"selection and copy", [&] { shift(VK_DOWN), ctrl('C'); }},
        {"sample, octave and mute keys", [&] { tap(fkey(2)), tap(fkey(4)), tap(fkey(5)), tap(fkey(5)); }},
        {"edit mode off, notes only heard", [&] { tap(VK_SPACE), type("QW"), tap(VK_SPACE); }},
        {"play and stop", [&] { tap(VK_RETURN), play_blocks(3), step(), tap(VK_RETURN); }},
        {"order position", [&] { ctrl(VK_RIGHT), ctrl(VK_LEFT); }},
        {"paste of empty cells onto empty cells", [&] { tap(VK_LEFT), ctrl('V'); }},
        {"delete of an empty field", [&] { tap(VK_DELETE); }},
        {"typing what is already there, after a save",
         [&] { move_to(0, 0), type("Q"), ctrl('S'), move_to(0, 0), type("Q"); }},
        {"WAV", [&] { ctrl('W'), ctrl('W'); }},
    };
    for (const auto& [name, action] : actions) {
        action();
        EXPECT_FALSE(app_song_changed()) << name;
    }
    ctrl('O');
    hl_open_answer = hl_save_answer;
    ctrl('L');
    EXPECT_EQ(app_confirm_quit(), 1);
    EXPECT_EQ(hl_questions, 0) << "no question when nothing would be lost";
}

// Every answer to the question, before each command that would discard the song.
TEST_F(UnsavedTest, QuestionBeforeNewLoadAndClose) {
    const std::string other = other_song();
    enum Command { NEW_KEY, NEW_BUTTON, LOAD, CLOSE };
    const char* command_names[] = {"Ctrl+O", "NEW button", "Ctrl+L", "closing the window"};
    const struct {
        const char* name;
        int answer;
        const char* save_to; // the save dialog's answer; "" cancels it
        bool goes_on;        // the command replaces the song (or the program may end)
    } answers[] = {
        {"cancel", OS_ANSWER_CANCEL, "", false},
        {"discard", OS_ANSWER_DISCARD, "", true},
        {"save", OS_ANSWER_SAVE, "saved.qvl", true},
        {"save, dialog cancelled", OS_ANSWER_SAVE, "", false},
        {"save, writing fails", OS_ANSWER_SAVE, "no/such/dir.qvl", false},
    };
    int failed_saves = 0;
    for (int command = NEW_KEY; command <= CLOSE; command++)
        for (const auto& a : answers) {
            SCOPED_TRACE(std::string(command_names[command]) + ", " + a.name);
            hl_ask_answer = OS_ANSWER_DISCARD;
            ctrl('O');
            std::filesystem::remove(path("saved.qvl"));
            move_to(0, 0);
            type("Q"); // unsaved: C-4 in row 0
            hl_ask_answer = a.answer;
            hl_save_type = OS_FILE_MODULE;
            hl_save_answer = a.save_to[0] ? path(a.save_to) : "";
            hl_open_answer = other;
            const int32_t questions = hl_questions, dialogs = hl_dialogs, boxes = hl_message_boxes;
            int quit = -1;
            switch (command) {
            case NEW_KEY:
                ctrl('O');
                break;
            case NEW_BUTTON:
                click(app.btn_new);
                break;
            case LOAD:
                ctrl('L');
                break;
            default:
                quit = app_confirm_quit();
                break;
            }
            EXPECT_EQ(hl_questions, questions + 1);
            EXPECT_EQ(hl_question_caption, "Unsaved changes");
            EXPECT_NE(hl_question_text.find("unsaved changes"), std::string::npos) << hl_question_text;
            const bool saving = a.answer == OS_ANSWER_SAVE;
            const bool written = saving && std::string(a.save_to) == "saved.qvl";
            EXPECT_EQ(std::filesystem::exists(path("saved.qvl")), written);
            if (saving && !written && a.save_to[0]) {
                EXPECT_EQ(hl_message_boxes, boxes + 1);
                EXPECT_EQ(hl_message_text, "Can not save");
                failed_saves++;
            }
            // The open dialog appears only once the song may go.
            EXPECT_EQ(hl_dialogs, dialogs + (saving ? 1 : 0) + (command == LOAD && a.goes_on ? 1 : 0));
            if (command == CLOSE) {
                EXPECT_EQ(quit, a.goes_on ? 1 : 0);
                EXPECT_EQ(flags(0, 0), SND_HAS_NOTE | SND_HAS_SAMPLE) << "closing itself leaves the song to shut-down";
            } else if (!a.goes_on) {
                EXPECT_EQ(flags(0, 0), SND_HAS_NOTE | SND_HAS_SAMPLE) << "the song is still there";
                EXPECT_TRUE(app_song_changed());
            } else {
                EXPECT_EQ(flags(0, 0), 0) << "the song was replaced";
                EXPECT_EQ(flags(0, 5) != 0, command == LOAD);
                EXPECT_FALSE(app_song_changed());
            }
        }
    // Each failing write counts as an assertion in the module writer.
    expected_asserts = log.asserts();
    EXPECT_EQ(failed_saves, 4);
}

TEST_F(UnsavedTest, CancelledQuestionLeavesPlaybackAlone) {
    type("Q");
    tap(VK_RETURN);
    hl_ask_answer = OS_ANSWER_CANCEL;
    bool playing_during = false;
    hl_on_modal = [&] { playing_during = snd_players[0] == &app.song; };
    ctrl('O');
    ctrl('L');
    EXPECT_TRUE(playing_during) << "the song plays on while the question is open";
    EXPECT_EQ(snd_players[0], &app.song) << "a cancelled NEW or LOAD does nothing at all";
    EXPECT_EQ(hl_questions, 2);
    EXPECT_EQ(hl_dialogs, 0);
    tap(VK_RETURN);
}

// Paths up to the platform's limit are saved and loaded; a longer one is refused aloud, never taken as a cancel.
TEST_F(UnsavedTest, LongPathsAreUsedOrRefusedAloud) {
    std::filesystem::path deep = dir;
    while (deep.string().size() < 1200) deep /= std::string(200, 'd');
    std::filesystem::create_directories(deep);
    const std::string file = (deep / "long tune.qvl").string();
    type("Q");
    hl_save_answer = file;
    ctrl('S');
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(hl_title, "QuavloII - long tune.qvl");
    type("W");
    hl_open_answer = file;
    ctrl('L');
    EXPECT_EQ(field(0, SND_FIELD_NOTE, 0), 0x40);
    EXPECT_EQ(flags(0, 1), 0);
    EXPECT_EQ(hl_message_boxes, 0);

    const std::string too_long = dir.string() + "/" + std::string(OS_PATH_CHARS, 'x') + ".qvl";
    move_to(0, 1);
    type("E");
    hl_save_answer = too_long;
    ctrl('S');
    EXPECT_EQ(hl_message_boxes, 1);
    EXPECT_EQ(hl_message_text, "Can not save");
    EXPECT_TRUE(app_song_changed());
    hl_ask_answer = OS_ANSWER_DISCARD;
    hl_open_answer = too_long;
    ctrl('L');
    EXPECT_EQ(hl_message_boxes, 2);
    EXPECT_EQ(hl_message_text, "Can not load");
    EXPECT_EQ(field(0, SND_FIELD_NOTE, 1), 0x44) << "the song stays";
}

} // namespace

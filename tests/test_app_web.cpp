// What the browser's page needs of the tracker, run headless: file commands whose dialogs only start and answer
// later (the editor waits in between, nothing blocks), a file chosen beforehand (a dropped file, a song link)
// loaded after the save question, bad bytes refused with "Can not load" and the song kept, and the share key.
#include "app_fixture.h"

#include <fstream>
#include <iterator>

namespace {

class WebAppTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        step();
        hl_dialogs_pending = true;
    }
    void TearDown() override {
        app_share_module = nullptr;
        AppTest::TearDown();
    }
    void answer(int value, const std::string& path = "", int type = OS_FILE_MODULE) {
        app_lock();
        app_dialog_answered(value, path.c_str(), type);
        app_unlock();
        step();
    }
    std::vector<uint8_t> bytes_of(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
    }
    std::vector<uint8_t> song_bytes() {
        std::vector<uint8_t> out(snd_pack_module(&app.song, nullptr, 0));
        snd_pack_module(&app.song, out.data(), (int32_t)out.size());
        return out;
    }
};

// LOAD with unsaved changes, answered Save: the question, the save dialog and the open dialog each wait for
// their answer; the editor takes no keys meanwhile and the song plays on until the command stops it.
TEST_F(WebAppTest, LoadWaitsForEachAnswerInTurn) {
    const std::string other = (dir / "other.qvl").string(), saved = (dir / "saved.qvl").string();
    ASSERT_EQ(save_module(other.c_str(), &app.song), 1);
    type("Q");
    ctrl('L');
    EXPECT_TRUE(app_dialog_waiting());
    EXPECT_EQ(hl_questions, 1);
    EXPECT_EQ(hl_dialogs, 0);
    type("W");
    tap(VK_DOWN);
    EXPECT_EQ(field(0, SND_FIELD_NOTE, 1), 0) << "the question has the keyboard";
    EXPECT_EQ(app.editor.cursor_row, 1);
    answer(OS_ANSWER_SAVE);
    EXPECT_TRUE(app_dialog_waiting());
    EXPECT_EQ(hl_dialogs, 1) << "the save dialog";
    answer(1, saved);
    EXPECT_TRUE(std::filesystem::exists(saved));
    EXPECT_FALSE(app_song_changed());
    EXPECT_TRUE(app_dialog_waiting());
    EXPECT_EQ(hl_dialogs, 2) << "then the open dialog";
    answer(1, other);
    EXPECT_FALSE(app_dialog_waiting());
    EXPECT_EQ(flags(0, 0), 0) << "the empty song was loaded";
    EXPECT_EQ(std::string(app.song_name), "other.qvl");
    // An answer nobody waits for changes nothing.
    answer(1, saved);
    EXPECT_EQ(std::string(app.song_name), "other.qvl");
}

TEST_F(WebAppTest, EveryWayOutOfAWaitingCommand) {
    const std::string saved = (dir / "saved.qvl").string();
    const struct {
        const char* what;
        int32_t key;
        std::vector<std::pair<int, std::string>> answers;
        bool replaced; // the typed note is gone
        bool file;     // saved.qvl was written
    } cases[] = {
        {"NEW, Cancel", 'O', {{OS_ANSWER_CANCEL, ""}}, false, false},
        {"NEW, Discard", 'O', {{OS_ANSWER_DISCARD, ""}}, true, false},
        {"NEW, Save, then cancelled", 'O', {{OS_ANSWER_SAVE, ""}, {0, ""}}, false, false},
        {"NEW, Save", 'O', {{OS_ANSWER_SAVE, ""}, {1, saved}}, true, true},
        {"LOAD, Discard, then cancelled", 'L', {{OS_ANSWER_DISCARD, ""}, {0, ""}}, false, false},
        {"SAVE", 'S', {{1, saved}}, false, true},
        {"SAVE, a path too long", 'S', {{-1, ""}}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        hl_dialogs_pending = false;
        ctrl('O');
        hl_dialogs_pending = true;
        std::filesystem::remove(saved);
        move_to(0, 0);
        type("Q");
        ctrl(c.key);
        for (const auto& [value, path] : c.answers) {
            EXPECT_TRUE(app_dialog_waiting());
            answer(value, path);
        }
        EXPECT_FALSE(app_dialog_waiting());
        EXPECT_EQ(flags(0, 0) == 0, c.replaced);
        EXPECT_EQ(std::filesystem::exists(saved), c.file);
    }
    EXPECT_EQ(hl_message_text, "Can not save");
}

// A dropped file or a link's song: LOAD with the file already chosen, after the question; bytes that make no
// song are "Can not load", and the song stays.
TEST_F(WebAppTest, FileChosenBeforehandLoadsAfterTheQuestion) {
    const std::string tune = std::string(QUAVLO_SOURCE_DIR) + "/examples/tune.qvl";
    const std::string junk = (dir / "junk.qvl").string();
    std::ofstream(junk, std::ios::binary) << "QV not a song at all";
    type("Q");
    app_lock();
    EXPECT_TRUE(app_file_load_from(junk.c_str()));
    EXPECT_FALSE(app_file_load_from(tune.c_str())) << "one command at a time";
    app_unlock();
    EXPECT_TRUE(app_dialog_waiting());
    answer(OS_ANSWER_DISCARD);
    EXPECT_EQ(hl_message_text, "Can not load");
    EXPECT_EQ(flags(0, 0), SND_HAS_NOTE | SND_HAS_SAMPLE) << "the song stays";
    EXPECT_TRUE(app_song_changed());

    answer(0); // nothing waits: nothing happens
    app_lock();
    EXPECT_TRUE(app_file_load_from(tune.c_str()));
    app_unlock();
    answer(OS_ANSWER_DISCARD);
    EXPECT_FALSE(app_dialog_waiting());
    EXPECT_EQ(song_bytes(), bytes_of(tune)) << "the song is the file's";
    EXPECT_EQ(std::string(app.song_name), "tune.qvl");
    EXPECT_EQ(hl_questions, 2);

    // No question for a song without changes.
    app_lock();
    EXPECT_TRUE(app_file_load_from(tune.c_str()));
    app_unlock();
    EXPECT_FALSE(app_dialog_waiting());
    EXPECT_EQ(hl_questions, 2);
}

TEST_F(WebAppTest, ShareKeyHandsTheModuleToTheHostAndRestoredSongsStayUnsaved) {
    tap(fkey(1) + 11); // F12 without a host that takes it: nothing
    std::vector<uint8_t> shared;
    int calls = 0;
    static std::function<void(const uint8_t*, int32_t)> take;
    take = [&](const uint8_t* data, int32_t size) {
        calls++;
        shared.assign(data, data + size);
    };
    app_share_module = [](const uint8_t* data, int32_t size) { take(data, size); };
    type("QWE");
    tap(fkey(1) + 11);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(shared, song_bytes());

    app_lock();
    app_undo_mark_saved();
    EXPECT_FALSE(app_song_changed());
    app_undo_mark_unsaved();
    app_unlock();
    EXPECT_TRUE(app_song_changed()) << "a song brought back from storage is in no file";
    ctrl('Z');
    EXPECT_TRUE(app_song_changed()) << "not even as it was before";
}

} // namespace

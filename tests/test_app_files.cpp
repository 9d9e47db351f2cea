// The file commands behind NEW, LOAD, SAVE and WAV, from the buttons and from Ctrl+O, Ctrl+L, Ctrl+S, Ctrl+W,
// with the dialogs and message boxes answered by the headless platform.
#include "app_fixture.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <future>
#include <iterator>
#include <vector>

namespace {

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

std::string read_text(const std::string& path) {
    const std::vector<uint8_t> bytes = read_file(path);
    return std::string(bytes.begin(), bytes.end());
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write((const char*)bytes.data(), (std::streamsize)bytes.size());
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}

// Whether another thread could take audio_lock right now.
bool lock_is_free() {
    return std::async(std::launch::async,
                      [] {
                          if (!audio_lock.try_lock()) return false;
                          audio_lock.unlock();
                          return true;
                      })
        .get();
}

} // namespace

class FileTest : public AppTest {
protected:
    std::string path(const char* name) { return (dir / name).string(); }

    // A small song: notes in two patterns, an order list of three entries.
    void make_song() {
        type("QWE");
        move_to(7, 0);
        type("C");
        move_to(8, 1);
        type("3A");
        ctrl(fkey(3));
        ctrl(fkey(2));
        move_to(15, 5);
        type("ZX");
        ctrl('A');
        ctrl('A');
        ctrl(VK_RIGHT);
        ctrl(VK_UP);
        ctrl(VK_LEFT);
        ctrl(fkey(1));
    }

    void expect_same_song(const snd_song& a, const snd_song& b) {
        ASSERT_EQ(a.order_len, b.order_len);
        for (int32_t i = 0; i < a.order_len; i++) EXPECT_EQ(a.order[i], b.order[i]) << i;
        ASSERT_EQ(a.pattern_count, b.pattern_count);
        for (int32_t p = 0; p < a.pattern_count; p++)
            for (int32_t c = 0; c < SND_CHANNELS; c++)
                for (int32_t r = 0; r < SND_ROWS; r++) {
                    const uint8_t fa = *snd_cell_flags(a.patterns[p], c, r);
                    ASSERT_EQ(fa, *snd_cell_flags(b.patterns[p], c, r)) << p << " " << c << " " << r;
                    for (int32_t f = 0; f < 5; f++) {
                        if (!(fa & (1 << f))) continue;
                        EXPECT_EQ(*snd_cell_field(a.patterns[p], c, f, r), *snd_cell_field(b.patterns[p], c, f, r));
                    }
                }
    }
};

TEST_F(FileTest, NewReplacesTheSongAndKeepsTheEditor) {
    make_song();
    app.editor.sel_col = 5;
    app.editor.sel_row = 2;
    move_to(13, 9);
    tap(fkey(2));
    tap(VK_RETURN);
    ASSERT_NE(audio_engine.snd_players[0], nullptr);
    click(app.btn_new);
    EXPECT_EQ(audio_engine.snd_players[0], nullptr) << "playback stopped";
    EXPECT_EQ(app.song.pattern_count, 1);
    EXPECT_EQ(app.song.order_len, 1);
    EXPECT_EQ(app.song.order[0], 0);
    EXPECT_EQ(app.song.sample_count, 8);
    EXPECT_EQ(flags(0, 0), 0);
    EXPECT_EQ(app.editor.cursor_col, 13);
    EXPECT_EQ(app.editor.cursor_row, 0) << "the cursor followed playback to row 0 before the stop";
    EXPECT_EQ(app.editor.cur_sample, 1);
    EXPECT_EQ(app.editor.sel_col, 5);
    ctrl('O');
    EXPECT_EQ(app.song.pattern_count, 1);
}

TEST_F(FileTest, SaveWritesTheModuleAndLoadBringsItBack) {
    make_song();
    snd_song before = app.song;
    hl_save_answer = path("tune.qvl");
    ctrl('S');
    EXPECT_EQ(hl_dialogs, 1);
    EXPECT_EQ(hl_message_boxes, 0);
    snd_song saved = load_module(&audio_engine, hl_save_answer.c_str());
    expect_same_song(saved, before);
    snd_free_song(&audio_engine, &saved);
    const std::vector<uint8_t> bytes = read_file(hl_save_answer);
    ASSERT_GE(bytes.size(), 7u);
    EXPECT_EQ(bytes[0], 'Q');
    EXPECT_EQ(bytes[1], 'V');
    EXPECT_EQ(bytes[3], 3);

    ctrl('O');
    move_to(12, 20);
    tap(fkey(2));
    hl_open_answer = hl_save_answer;
    click(app.btn_load);
    EXPECT_EQ(hl_dialogs, 2);
    EXPECT_EQ(hl_message_boxes, 0);
    EXPECT_EQ(app.song.pattern_count, 2);
    EXPECT_EQ(app.song.order_len, 3);
    EXPECT_EQ(app.song.order[1], 1);
    EXPECT_EQ(field(0, SND_FIELD_NOTE, 1), 0x42);
    EXPECT_EQ(field(1, SND_FIELD_EFFECT, 1), 0x3A);
    EXPECT_EQ(field(3, SND_FIELD_NOTE, 6, 1), 0x32);
    EXPECT_EQ(app.editor.cursor_col, 12);
    EXPECT_EQ(app.editor.cursor_row, 20);
    EXPECT_EQ(app.editor.cur_sample, 1);
}

TEST_F(FileTest, SaveAsHeaderNamesTheArrayAfterTheFile) {
    hl_save_type = OS_FILE_HEADER;
    hl_save_answer = path("tune.h");
    click(app.btn_save);
    const std::string tune = read_text(hl_save_answer);
    EXPECT_EQ(tune.rfind("const byte tune[]=", 0), 0u) << tune;

    hl_save_answer = path("my.song.h");
    ctrl('S');
    const std::string my = read_text(hl_save_answer);
    EXPECT_EQ(my.rfind("const byte my[]=", 0), 0u) << my;

    // A file name that is no C identifier still gives one.
    hl_save_answer = path("9-lives.h");
    ctrl('S');
    const std::string lives = read_text(hl_save_answer);
    EXPECT_EQ(lives.rfind("const byte _9_lives[]=", 0), 0u) << lives;
    EXPECT_EQ(hl_message_boxes, 0);
}

TEST_F(FileTest, FailedSaveSaysSoAndKeepsTheSong) {
    type("Q");
    hl_save_answer = path("missing/tune.qvl");
    ctrl('S');
    EXPECT_EQ(hl_message_boxes, 1);
    EXPECT_EQ(hl_message_text, "Can not save");
    EXPECT_EQ(hl_message_caption, "ERROR");
    EXPECT_EQ(flags(0, 0), SND_HAS_NOTE | SND_HAS_SAMPLE);
    hl_save_type = OS_FILE_HEADER;
    hl_save_answer = path("missing/tune.h");
    ctrl('S');
    EXPECT_EQ(hl_message_boxes, 2);
    // A failing file system counts as an assertion in the writers.
    expected_asserts = log.asserts();
}

TEST_F(FileTest, CancelledDialogsOnlyStopThePlayback) {
    type("Q");
    tap(VK_RETURN);
    ctrl('S');
    EXPECT_EQ(audio_engine.snd_players[0], nullptr);
    tap(VK_RETURN);
    ctrl('L');
    EXPECT_EQ(audio_engine.snd_players[0], nullptr);
    EXPECT_EQ(hl_dialogs, 2);
    EXPECT_EQ(hl_message_boxes, 0);
    EXPECT_EQ(flags(0, 0), SND_HAS_NOTE | SND_HAS_SAMPLE);
}

TEST_F(FileTest, LoadThatGivesNoUsableSongKeepsTheOldOne) {
    make_song();
    snd_pattern* kept = app.song.patterns[0];
    write_file(path("empty.qvl"), {});
    write_file(path("wrong.qvl"), {'X', 'Y', 0, 1, 0, 0x80, 0xFF, 0});
    write_file(path("no_order.qvl"), {'Q', 'V', 0, 0, 0x80, 0xFF, 0});
    const char* names[] = {"absent.qvl", "empty.qvl", "wrong.qvl", "no_order.qvl"};
    int boxes = 0;
    for (const char* name : names) {
        tap(VK_RETURN);
        hl_open_answer = path(name);
        ctrl('L');
        EXPECT_EQ(audio_engine.snd_players[0], nullptr) << name;
        EXPECT_EQ(hl_message_boxes, ++boxes) << name;
        EXPECT_EQ(hl_message_text, "Can not load");
        EXPECT_EQ(hl_message_caption, "ERROR");
        EXPECT_EQ(app.song.patterns[0], kept) << name;
        EXPECT_EQ(app.song.order_len, 3) << name;
        EXPECT_EQ(app.song.sample_count, 8) << name;
    }
    EXPECT_EQ(field(0, SND_FIELD_NOTE, 0), 0x40);
}

TEST_F(FileTest, LoadCompletesASongWithoutPatterns) {
    write_file(path("orders.qvl"), {'Q', 'V', 0, 3, 0, 4, 0});
    hl_open_answer = path("orders.qvl");
    ctrl('L');
    EXPECT_EQ(hl_message_boxes, 0);
    EXPECT_EQ(app.song.pattern_count, 1);
    ASSERT_EQ(app.song.order_len, 3);
    EXPECT_EQ(app.song.order[1], 0) << "an entry beyond the table points at pattern 0";
    // The editor and the player work on it.
    type("Q");
    EXPECT_EQ(flags(0, 0), SND_HAS_NOTE | SND_HAS_SAMPLE);
    tap(VK_RETURN);
    play_blocks(5);
    step();
    tap(VK_RETURN);
}

TEST_F(FileTest, LoadReplacesChannelPinsOfTheOldSong) {
    ctrl(fkey(3));
    ctrl(fkey(3));
    ctrl(VK_UP);
    ctrl(VK_UP);
    tap(VK_RETURN);
    play_blocks(3);
    step();
    tap(VK_RETURN); // every channel is pinned to pattern 2
    EXPECT_EQ(audio_engine.snd_voices[0][0].channel_pattern, 2);
    write_file(path("one.qvl"), {'Q', 'V', 0, 1, 0, 0x03, 0x41, 0x00, 0x80, 0xFE, 0x00});
    hl_open_answer = path("one.qvl");
    ctrl('L');
    ASSERT_EQ(app.song.pattern_count, 1);
    step(2);
    EXPECT_EQ(audio_engine.snd_voices[0][0].channel_pattern, -1);
    EXPECT_EQ(log.asserts(), 0);
    ctrl('O');
    EXPECT_EQ(log.asserts(), 0);
}

TEST_F(FileTest, ModalDialogsRunWithoutTheLockAndWithTheSongStopped) {
    tap(VK_RETURN);
    bool free_during = false;
    bool stopped_during = false;
    hl_on_modal = [&] {
        free_during = lock_is_free();
        stopped_during = audio_engine.snd_players[0] == nullptr && app.song.state == 0;
    };
    ctrl('L');
    EXPECT_TRUE(free_during);
    EXPECT_TRUE(stopped_during);
    free_during = false;
    hl_save_answer = path("no/such/dir.qvl");
    hl_on_modal = [&] { free_during = lock_is_free(); };
    ctrl('S');
    EXPECT_EQ(hl_dialogs, 2);
    EXPECT_EQ(hl_message_boxes, 1);
    EXPECT_TRUE(free_during) << "the message box also lets go";
    expected_asserts = log.asserts();
    // Outside a dialog the editor holds the lock while it steps.
    bool held_in_step = false;
    hl_push_call([&] {});
    app_lock();
    held_in_step = !lock_is_free();
    app_unlock();
    EXPECT_TRUE(held_in_step);
    EXPECT_TRUE(lock_is_free());
}

TEST_F(FileTest, KeysHeldIntoADialogAreReleasedAfterIt) {
    // The dialog takes the keyboard, so the release of Ctrl may never reach the window.
    hl_save_answer.clear();
    down(VK_CONTROL);
    down('S');
    step();
    EXPECT_EQ(hl_dialogs, 1);
    EXPECT_EQ(os_keys[KEY_CTRL], 0);
    EXPECT_EQ(os_keys_held, 0);
    type("Q");
    EXPECT_EQ(flags(0, 0), SND_HAS_NOTE | SND_HAS_SAMPLE) << "Ctrl is not stuck";
    up(VK_CONTROL);
    up('S');
    EXPECT_EQ(os_keys_held, 0);
}

TEST_F(FileTest, WavRecordsUntilPressedAgain) {
    type("QWER");
    click(app.btn_wav);
    EXPECT_EQ(std::string(app.btn_wav.label), "STOP");
    EXPECT_EQ(audio_engine.snd_players[0], &app.song);
    EXPECT_EQ(audio_engine.snd_song_mode, 1);
    play_blocks(10);
    ctrl('W');
    EXPECT_EQ(std::string(app.btn_wav.label), "WAV");
    EXPECT_EQ(audio_engine.snd_players[0], nullptr);
    // The two blocks before the first row are silent, and the capture skips silent blocks.
    const std::vector<uint8_t> wav = read_file(path("song.wav"));
    ASSERT_EQ(wav.size(), 44u + 8u * SND_BLOCK * 2);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(le32(wav, 4), wav.size() - 8);
    EXPECT_EQ(le32(wav, 40), wav.size() - 44);
    bool sound = false;
    for (size_t i = 44; i < wav.size(); i++) sound |= wav[i] != 0;
    EXPECT_TRUE(sound);
}

TEST_F(FileTest, EnterDuringRecordingStopsOnlyThePlayback) {
    type("Q");
    ctrl('W');
    play_blocks(4);
    tap(VK_RETURN);
    EXPECT_EQ(audio_engine.snd_players[0], nullptr);
    EXPECT_EQ(std::string(app.btn_wav.label), "STOP");
    EXPECT_NE(audio_engine.capture.wav_file, nullptr);
    play_blocks(2);
    ctrl('W');
    EXPECT_EQ(audio_engine.capture.wav_file, nullptr);
    EXPECT_EQ(read_file(path("song.wav")).size(), 44u + 2u * SND_BLOCK * 2);
}

// "song.wav" that cannot be created (a folder of that name, a folder the user may not write to): the song plays all
// the same, and the next step says "Can not save" and offers WAV again instead of pretending to record.
TEST_F(FileTest, WavThatCannotOpenItsFileSaysSoAndPlaysOn) {
    std::filesystem::create_directory(path("song.wav"));
    ctrl('W');
    EXPECT_EQ(audio_engine.snd_players[0], &app.song);
    step();
    EXPECT_EQ(hl_message_boxes, 1);
    EXPECT_EQ(hl_message_text, "Can not save");
    EXPECT_EQ(std::string(app.btn_wav.label), "WAV");
    EXPECT_EQ(audio_engine.snd_players[0], &app.song) << "the song plays on";
    EXPECT_EQ(audio_engine.capture.wav_file, nullptr);
    // Another try starts a new attempt, and is reported again.
    ctrl('W');
    step();
    EXPECT_EQ(hl_message_boxes, 2);
    EXPECT_EQ(std::string(app.btn_wav.label), "WAV");
    EXPECT_TRUE(std::filesystem::is_directory(path("song.wav")));
}

// The dialogs start in the folder of the song last loaded or saved, and SAVE offers the song's name; a new song
// at first starts in the working directory and offers no name.
TEST_F(FileTest, DialogsStartBesideTheSongAndSaveOffersItsName) {
    std::filesystem::create_directories(dir / "songs" / "more");
    hl_save_answer = path("songs/tune.qvl");
    ctrl('S');
    EXPECT_EQ(hl_dialog_dir, "") << "a new song: the working directory";
    EXPECT_EQ(hl_dialog_name, "");
    ASSERT_TRUE(std::filesystem::exists(dir / "songs" / "tune.qvl"));
    ctrl('S');
    EXPECT_EQ(hl_dialog_dir, path("songs/"));
    EXPECT_EQ(hl_dialog_name, "tune.qvl");

    // A header export is no save of the song: the folder and name stay the song's.
    hl_save_answer = path("songs/more/tune.h");
    hl_save_type = OS_FILE_HEADER;
    ctrl('S');
    hl_save_type = OS_FILE_MODULE;
    hl_save_answer = path("songs/tune.qvl");
    ctrl('S');
    EXPECT_EQ(hl_dialog_dir, path("songs/"));
    EXPECT_EQ(hl_dialog_name, "tune.qvl");

    std::filesystem::copy_file(dir / "songs" / "tune.qvl", dir / "songs" / "more" / "other.qvl");
    hl_open_answer = path("songs/more/other.qvl");
    ctrl('L');
    EXPECT_EQ(hl_dialog_dir, path("songs/"));
    ctrl('L');
    EXPECT_EQ(hl_dialog_dir, path("songs/more/")) << "the folder of the song last loaded";
    hl_save_answer = hl_open_answer;
    ctrl('S');
    EXPECT_EQ(hl_dialog_name, "other.qvl");

    // NEW forgets the name, not the folder; a song named by a path without a folder is in the working directory.
    ctrl('O');
    ctrl('S');
    EXPECT_EQ(hl_dialog_dir, path("songs/more/"));
    EXPECT_EQ(hl_dialog_name, "");
    hl_save_answer = "here.qvl";
    ctrl('S');
    ctrl('L');
    EXPECT_EQ(hl_dialog_dir, "");
}

// Any name the file system takes can be saved: the temporary file beside it must not need a longer name.
TEST_F(FileTest, NamesUpToTheFileSystemsLimitCanBeSaved) {
    make_song();
    for (const size_t length : {248u, 255u}) {
        SCOPED_TRACE(length);
        const std::string name = std::string(length - 4, 'n') + ".qvl";
        // A leftover of an earlier save under the short temporary name is not taken over.
        write_file(path("quavlo.0.part"), {'x'});
        hl_save_answer = path(name.c_str());
        ctrl('S');
        EXPECT_EQ(hl_message_boxes, 0) << hl_message_text;
        ASSERT_TRUE(std::filesystem::exists(dir / name));
        EXPECT_EQ(app.song_name, name);
        EXPECT_EQ(hl_title, "QuavloII - " + name);
        snd_song back = load_module(&audio_engine, path(name.c_str()).c_str());
        EXPECT_EQ(back.pattern_count, app.song.pattern_count);
        EXPECT_EQ(back.order_len, app.song.order_len);
        EXPECT_EQ(memcmp(back.patterns[1]->bytes, app.song.patterns[1]->bytes, SND_PATTERN_BYTES), 0);
        snd_free_song(&audio_engine, &back);
        // Only the module and the leftover are there: no temporary file was left behind.
        EXPECT_EQ(read_file(path("quavlo.0.part")), std::vector<uint8_t>{'x'});
        int32_t files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) files += entry.is_regular_file();
        EXPECT_EQ(files, 2);
        std::filesystem::remove(dir / name);
    }
}

// File dialogs of the Linux desktop backend: the command lines given to zenity and kdialog, the reading of their
// answer, the file-type rules of the save dialog, and whole dialogs run against stand-in dialog programs.
#include "dialogs_sdl.h"
#include "os_platform.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

std::vector<std::string> args_of(const os_dialog_command& cmd) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < cmd.argc; i++) out.push_back(cmd.argv[i]);
    EXPECT_EQ(cmd.argv[cmd.argc], nullptr);
    return out;
}

TEST(SdlDialogCommand, ZenityOpenAndSave) {
    os_dialog_command cmd;
    ASSERT_EQ(os_dialog_build(&cmd, OS_DIALOG_ZENITY, 0, "/opt/quavlo/"), 1);
    EXPECT_EQ(args_of(cmd),
              (std::vector<std::string>{"zenity", "--file-selection", "--modal", "--title=Open",
                                        "--filename=/opt/quavlo/", "--file-filter=Quavlo module | *.qvl"}));
    // Saving asks before a file is replaced, and offers the song's name.
    ASSERT_EQ(os_dialog_build(&cmd, OS_DIALOG_ZENITY, 1, "/songs/tune.qvl"), 1);
    EXPECT_EQ(args_of(cmd),
              (std::vector<std::string>{"zenity", "--file-selection", "--save", "--modal", "--title=Save As",
                                        "--confirm-overwrite", "--filename=/songs/tune.qvl",
                                        "--file-filter=Quavlo module | *.qvl", "--file-filter=C header file | *.h"}));
    // Without a known start directory the dialog opens where it likes.
    ASSERT_EQ(os_dialog_build(&cmd, OS_DIALOG_ZENITY, 0, ""), 1);
    for (const std::string& a : args_of(cmd)) EXPECT_EQ(a.rfind("--filename", 0), std::string::npos) << a;
}

TEST(SdlDialogCommand, KdialogOpenAndSave) {
    os_dialog_command cmd;
    ASSERT_EQ(os_dialog_build(&cmd, OS_DIALOG_KDIALOG, 0, "/opt/quavlo/"), 1);
    EXPECT_EQ(args_of(cmd), (std::vector<std::string>{"kdialog", "--title", "Open", "--getopenfilename", "/opt/quavlo/",
                                                      "*.qvl|Quavlo module"}));
    ASSERT_EQ(os_dialog_build(&cmd, OS_DIALOG_KDIALOG, 1, "/songs/tune.qvl"), 1);
    EXPECT_EQ(args_of(cmd), (std::vector<std::string>{"kdialog", "--title", "Save As", "--getsavefilename",
                                                      "/songs/tune.qvl", "*.qvl|Quavlo module\n*.h|C header file"}));
    // The start directory is positional: it must never read as an option.
    ASSERT_EQ(os_dialog_build(&cmd, OS_DIALOG_KDIALOG, 0, "--help"), 1);
    EXPECT_EQ(args_of(cmd)[4], "./--help");
    ASSERT_EQ(os_dialog_build(&cmd, OS_DIALOG_KDIALOG, 0, nullptr), 1);
    EXPECT_EQ(args_of(cmd)[4], ".");
}

TEST(SdlDialogCommand, DirectoryWithSpacesQuotesAndNonAsciiStaysOneArgument) {
    const std::string dir = "/home/J\xC3\xBCrgen M\xC3\xBCller/\"quoted\" 'single' $(rm -rf x); `y` & z/";
    os_dialog_command cmd;
    ASSERT_EQ(os_dialog_build(&cmd, OS_DIALOG_ZENITY, 1, dir.c_str()), 1);
    EXPECT_EQ(args_of(cmd)[6], "--filename=" + dir);
    ASSERT_EQ(os_dialog_build(&cmd, OS_DIALOG_KDIALOG, 1, dir.c_str()), 1);
    EXPECT_EQ(args_of(cmd)[4], dir);
}

TEST(SdlDialogCommand, ArgumentsThatDoNotFitAreRefused) {
    const std::string dir(OS_DIALOG_TEXT, 'd');
    os_dialog_command cmd;
    EXPECT_EQ(os_dialog_build(&cmd, OS_DIALOG_ZENITY, 1, dir.c_str()), 0);
    EXPECT_EQ(cmd.argc, 0);
    EXPECT_EQ(cmd.argv[0], nullptr);
    EXPECT_EQ(os_dialog_build(&cmd, 7, 0, "/"), 0);
}

int answer(const std::string& output, std::string* path, int32_t capacity = 256) {
    std::vector<char> buf((size_t)capacity, 'x');
    const int chosen = os_dialog_answer(output.data(), (int32_t)output.size(), buf.data(), capacity);
    *path = chosen > 0 ? std::string(buf.data()) : std::string();
    if (chosen <= 0) { EXPECT_EQ(buf[0], 0) << "a refused answer leaves an empty path"; }
    return chosen;
}

TEST(SdlDialogAnswer, TheOutputUpToItsLineBreakIsThePath) {
    std::string path;
    EXPECT_EQ(answer("/tmp/my song.qvl\n", &path), 1);
    EXPECT_EQ(path, "/tmp/my song.qvl");
    EXPECT_EQ(answer("/tmp/\"a\" 'b' \\c.qvl\n", &path), 1);
    EXPECT_EQ(path, "/tmp/\"a\" 'b' \\c.qvl");
    EXPECT_EQ(answer("/tmp/M\xC3\xBCsik \xE2\x99\xAA.qvl\n", &path), 1);
    EXPECT_EQ(path, "/tmp/M\xC3\xBCsik \xE2\x99\xAA.qvl");
    EXPECT_EQ(answer("/tmp/no line break", &path), 1);
    EXPECT_EQ(path, "/tmp/no line break");
    EXPECT_EQ(answer("/tmp/crlf.qvl\r\n", &path), 1);
    EXPECT_EQ(path, "/tmp/crlf.qvl");
    // Only the final line break goes; leading and inner spaces are part of the name.
    EXPECT_EQ(answer(" /tmp/x \n", &path), 1);
    EXPECT_EQ(path, " /tmp/x ");
}

TEST(SdlDialogAnswer, NothingChosenOrUnusableOutput) {
    std::string path;
    EXPECT_EQ(answer("", &path), 0);
    EXPECT_EQ(answer("\n", &path), 0);
    EXPECT_EQ(answer(std::string("/tmp/a\0b.qvl\n", 13), &path), 0);
    EXPECT_EQ(os_dialog_answer("x\n", 2, nullptr, 10), 0);
}

TEST(SdlDialogAnswer, APathIsNeverCutShort) {
    std::string path;
    EXPECT_EQ(answer("/tmp/abcd\n", &path, 10), 1); // nine characters and the terminator
    EXPECT_EQ(path, "/tmp/abcd");
    EXPECT_EQ(answer("/tmp/abcde\n", &path, 10), -1) << "too long, which is not the same as nothing chosen";
}

int save_type(std::string* path, int32_t capacity = 256) {
    std::vector<char> buf((size_t)capacity, 0);
    std::copy(path->begin(), path->end(), buf.begin());
    const int type = os_dialog_save_type(buf.data(), capacity);
    *path = buf.data();
    return type;
}

TEST(SdlDialogSaveType, HeaderModuleAndDefaultExtension) {
    std::string p = "/tmp/tune.h";
    EXPECT_EQ(save_type(&p), OS_FILE_HEADER);
    EXPECT_EQ(p, "/tmp/tune.h");
    p = "/tmp/TUNE.H";
    EXPECT_EQ(save_type(&p), OS_FILE_HEADER);
    p = "/tmp/my.song.h";
    EXPECT_EQ(save_type(&p), OS_FILE_HEADER);
    p = "/tmp/new tune";
    EXPECT_EQ(save_type(&p), OS_FILE_MODULE);
    EXPECT_EQ(p, "/tmp/new tune.qvl");
    // A dot in a directory name is no extension of the file.
    p = "/tmp/v1.2/song";
    EXPECT_EQ(save_type(&p), OS_FILE_MODULE);
    EXPECT_EQ(p, "/tmp/v1.2/song.qvl");
    p = "relative";
    EXPECT_EQ(save_type(&p), OS_FILE_MODULE);
    EXPECT_EQ(p, "relative.qvl");
    for (const char* kept : {"/tmp/song.qvl", "/tmp/song.txt", "/tmp/song.hh", "/tmp/song.QVL", "/tmp/x.h.bak"}) {
        p = kept;
        EXPECT_EQ(save_type(&p), OS_FILE_MODULE) << kept;
        EXPECT_EQ(p, kept);
    }
}

TEST(SdlDialogSaveType, AppendingOnlyWhenItFitsAndOnlyToFiles) {
    std::string p = "/tmp/abc"; // 8 characters: ".qvl" and the terminator need 13
    EXPECT_EQ(save_type(&p, 12), 0);
    EXPECT_EQ(p, "/tmp/abc");
    p = "/tmp/abc";
    EXPECT_EQ(save_type(&p, 13), OS_FILE_MODULE);
    EXPECT_EQ(p, "/tmp/abc.qvl");
    p = "/tmp/dir/";
    EXPECT_EQ(save_type(&p), 0);
    char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(os_dialog_save_type(unterminated, 4), 0);
}

// Where the dialogs start: the song's directory made absolute, with the offered name; the working directory
// when there is none.
TEST(SdlDialogStart, SongDirectoryMadeAbsoluteWithTheName) {
    const struct {
        const char* cwd;
        const char* dir;
        const char* name;
        const char* start; // null: refused
    } cases[] = {
        {"/home/me", "/songs/", "tune.qvl", "/songs/tune.qvl"},
        {"/home/me", "/songs/", nullptr, "/songs/"},
        {"/home/me", "/songs", "", "/songs/"},
        {"/home/me", "", nullptr, "/home/me/"},
        {"/home/me/", nullptr, "tune.qvl", "/home/me/tune.qvl"},
        {"/home/me", "sub/", "tune.qvl", "/home/me/sub/tune.qvl"},
        {"/", "", "", "/"},
        {"", "sub/", "x", nullptr},
        {nullptr, "", "x", nullptr},
        {"/home/me", "/", "-x.qvl", "/-x.qvl"},
    };
    for (const auto& c : cases) {
        char start[64] = "stale";
        EXPECT_EQ(os_dialog_start(start, (int32_t)sizeof start, c.cwd, c.dir, c.name), c.start ? 1 : 0)
            << (c.cwd ? c.cwd : "(null)") << " " << (c.dir ? c.dir : "(null)");
        EXPECT_STREQ(start, c.start ? c.start : "");
    }
    // A start that does not fit is none, never a cut one.
    char small[12];
    EXPECT_EQ(os_dialog_start(small, (int32_t)sizeof small, "/home/me", "/songs/", "tune.qvl"), 0);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(os_dialog_start(small, (int32_t)sizeof small, "/home/me", "/songs/", "t.qv"), 1);
    EXPECT_STREQ(small, "/songs/t.qv");
}

// Runs the dialogs against shell scripts named like the dialog programs, in a directory that is the whole PATH.
class SdlDialogRun : public ::testing::Test {
protected:
    std::string dir;
    std::string saved_path, saved_display, saved_wayland;
    bool had_display = false, had_wayland = false;

    void SetUp() override {
        char tmpl[] = "/tmp/quavlo-dialogs-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        saved_path = getenv("PATH") ? getenv("PATH") : "";
        // A real message box must never open and wait during a test.
        had_display = getenv("DISPLAY") != nullptr;
        if (had_display) saved_display = getenv("DISPLAY");
        had_wayland = getenv("WAYLAND_DISPLAY") != nullptr;
        if (had_wayland) saved_wayland = getenv("WAYLAND_DISPLAY");
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        setenv("PATH", dir.c_str(), 1);
    }

    void TearDown() override {
        setenv("PATH", saved_path.c_str(), 1);
        if (had_display) setenv("DISPLAY", saved_display.c_str(), 1);
        if (had_wayland) setenv("WAYLAND_DISPLAY", saved_wayland.c_str(), 1);
        std::filesystem::remove_all(dir);
    }

    // A stand-in dialog program that records its arguments, prints answer and exits with status.
    void program(const std::string& name, const std::string& answer, int status) {
        std::ofstream(dir + "/" + name + ".answer", std::ios::binary) << answer;
        std::ofstream script(dir + "/" + name);
        script << "#!/bin/sh\n"
               << "printf '%s\\0' \"$@\" > '" << dir << "/" << name << ".args'\n"
               << "/bin/cat '" << dir << "/" << name << ".answer'\n"
               << "exit " << status << "\n";
        script.close();
        chmod((dir + "/" + name).c_str(), 0755);
    }

    std::vector<std::string> recorded_args(const std::string& name) {
        std::ifstream in(dir + "/" + name + ".args", std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        std::vector<std::string> out;
        std::string all = ss.str(), cur;
        for (char c : all) {
            if (c == 0) {
                out.push_back(cur);
                cur.clear();
            } else {
                cur += c;
            }
        }
        return out;
    }

    bool ran(const std::string& name) { return std::filesystem::exists(dir + "/" + name + ".args"); }
};

TEST_F(SdlDialogRun, RunsWithoutAShellAndReadsTheAnswer) {
    const std::string tricky = "/tmp/a \"b\" 'c' $(touch pwned) ; d\xC3\xA9.qvl\n";
    program("fake-dialog", tricky, 0);
    char* argv[] = {(char*)"fake-dialog", (char*)"--one arg", (char*)"$HOME", nullptr};
    char out[256];
    int32_t length = -1;
    EXPECT_EQ(os_dialog_run(argv, out, (int32_t)sizeof out, &length), OS_DIALOG_CHOSEN);
    EXPECT_EQ(std::string(out, (size_t)length), tricky);
    EXPECT_EQ(recorded_args("fake-dialog"), (std::vector<std::string>{"--one arg", "$HOME"}));
    EXPECT_FALSE(std::filesystem::exists("pwned"));
}

TEST_F(SdlDialogRun, CancelMissingProgramAndOverlongOutput) {
    program("cancels", "", 1);
    char* cancel_argv[] = {(char*)"cancels", nullptr};
    char out[64];
    int32_t length = 0;
    EXPECT_EQ(os_dialog_run(cancel_argv, out, (int32_t)sizeof out, &length), OS_DIALOG_CANCELLED);

    char* missing_argv[] = {(char*)"no-such-dialog-program", nullptr};
    EXPECT_EQ(os_dialog_run(missing_argv, out, (int32_t)sizeof out, &length), OS_DIALOG_NOT_FOUND);

    // Far more output than the buffer and the pipe hold: read to the end, reported as too long, and no hang.
    program("chatty", std::string(200000, 'z'), 0);
    char* chatty_argv[] = {(char*)"chatty", nullptr};
    EXPECT_EQ(os_dialog_run(chatty_argv, out, (int32_t)sizeof out, &length), OS_DIALOG_TOO_LONG);
    EXPECT_EQ(length, (int32_t)sizeof out);
    program("chatty", std::string(200000, 'z'), 1);
    EXPECT_EQ(os_dialog_run(chatty_argv, out, (int32_t)sizeof out, &length), OS_DIALOG_CANCELLED);
}

// The window is looked after while the dialog is open: this stand-in answers only once the idle function has run.
std::string idle_flag;
int32_t idle_calls;
void idle_touches_flag() {
    idle_calls++;
    std::ofstream(idle_flag) << "idle";
}

TEST_F(SdlDialogRun, TheIdleFunctionRunsWhileTheDialogIsOpen) {
    idle_flag = dir + "/idle.flag";
    idle_calls = 0;
    std::ofstream script(dir + "/waits");
    script << "#!/bin/sh\nwhile [ ! -e '" << idle_flag << "' ]; do /bin/sleep 0.01; done\necho /tmp/chosen.qvl\n";
    script.close();
    chmod((dir + "/waits").c_str(), 0755);
    char* argv[] = {(char*)"waits", nullptr};
    char out[64];
    int32_t length = 0;
    EXPECT_EQ(os_dialog_run(argv, out, (int32_t)sizeof out, &length, idle_touches_flag), OS_DIALOG_CHOSEN);
    EXPECT_EQ(std::string(out, (size_t)length), "/tmp/chosen.qvl\n");
    EXPECT_GE(idle_calls, 1);
}

TEST_F(SdlDialogRun, OpenDialogThroughZenity) {
    program("zenity", "/music/Sch\xC3\xB6ne \"Lieder\"/tune one.qvl\n", 0);
    program("kdialog", "/wrong.qvl\n", 0);
    char path[256];
    ASSERT_EQ(os_open_dialog(path, (int32_t)sizeof path, nullptr), 1);
    EXPECT_EQ(std::string(path), "/music/Sch\xC3\xB6ne \"Lieder\"/tune one.qvl");
    EXPECT_FALSE(ran("kdialog"));
    // Without a song's directory the dialog starts in the working directory, not in the program's.
    const std::vector<std::string> args = recorded_args("zenity");
    ASSERT_EQ(args.size(), 5u);
    EXPECT_EQ(args[0], "--file-selection");
    EXPECT_EQ(args[3], "--filename=" + std::filesystem::current_path().string() + "/");
    EXPECT_EQ(args[4], "--file-filter=Quavlo module | *.qvl");
    // With one, it starts there; the open dialog offers no name.
    ASSERT_EQ(os_open_dialog(path, (int32_t)sizeof path, "/music/"), 1);
    EXPECT_EQ(recorded_args("zenity")[3], "--filename=/music/");
}

TEST_F(SdlDialogRun, SaveDialogDecidesTheFileTypeFromTheName) {
    char path[256];
    int type = 0;
    program("zenity", "/songs/new tune\n", 0);
    ASSERT_EQ(os_save_dialog(path, (int32_t)sizeof path, &type, "/songs/", "old tune.qvl"), 1);
    EXPECT_EQ(std::string(path), "/songs/new tune.qvl");
    EXPECT_EQ(type, OS_FILE_MODULE);
    const std::vector<std::string> args = recorded_args("zenity");
    EXPECT_EQ(args[1], "--save");
    EXPECT_NE(std::find(args.begin(), args.end(), "--confirm-overwrite"), args.end());
    EXPECT_NE(std::find(args.begin(), args.end(), "--filename=/songs/old tune.qvl"), args.end());

    program("zenity", "/songs/Tune.H\n", 0);
    ASSERT_EQ(os_save_dialog(path, (int32_t)sizeof path, &type, nullptr, nullptr), 1);
    EXPECT_EQ(std::string(path), "/songs/Tune.H");
    EXPECT_EQ(type, OS_FILE_HEADER);

    type = 0;
    program("zenity", "", 1);
    EXPECT_EQ(os_save_dialog(path, (int32_t)sizeof path, &type, nullptr, nullptr), 0);
    EXPECT_EQ(path[0], 0);
    EXPECT_EQ(type, 0);

    // A chosen name that does not fit with its extension is refused as too long, not cut.
    program("zenity", "/songs/abcdefgh\n", 0);
    char small[16]; // the name fits, its extension does not
    EXPECT_EQ(os_save_dialog(small, (int32_t)sizeof small, &type, nullptr, nullptr), -1);
    EXPECT_EQ(small[0], 0);
    // The longest path Linux opens fits the buffer the file commands give.
    const std::string longest = "/" + std::string(OS_PATH_CHARS - 6, 'x') + ".qvl";
    program("zenity", longest + "\n", 0);
    std::vector<char> room(OS_PATH_CHARS);
    EXPECT_EQ(os_open_dialog(room.data(), OS_PATH_CHARS, nullptr), 1);
    EXPECT_EQ(std::string(room.data()), longest);
    // A directory is no file.
    program("zenity", "/songs/\n", 0);
    EXPECT_EQ(os_save_dialog(path, (int32_t)sizeof path, &type, nullptr, nullptr), 0);
}

TEST_F(SdlDialogRun, KdialogWhenZenityIsMissing) {
    program("kdialog", "/songs/from kde.qvl\n", 0);
    char path[256];
    ASSERT_EQ(os_open_dialog(path, (int32_t)sizeof path, nullptr), 1);
    EXPECT_EQ(std::string(path), "/songs/from kde.qvl");
    EXPECT_EQ(recorded_args("kdialog")[2], "--getopenfilename");
    // Cancelled in kdialog: nothing chosen, and no second dialog.
    program("kdialog", "", 1);
    EXPECT_EQ(os_open_dialog(path, (int32_t)sizeof path, nullptr), 0);
}

TEST_F(SdlDialogRun, NeitherProgramShowsAMessageAndChoosesNothing) {
    char path[256] = "stale";
    int type = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(os_open_dialog(path, (int32_t)sizeof path, nullptr), 0);
    EXPECT_EQ(os_save_dialog(path, (int32_t)sizeof path, &type, nullptr, nullptr), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(path[0], 0);
    EXPECT_EQ(type, 0);
    // No display here, so the message box falls back to standard error.
    EXPECT_NE(err.find("A file dialog needs zenity or kdialog"), std::string::npos) << err;
}

// The save question through zenity or kdialog, for desktops where SDL cannot show its message box.
TEST_F(SdlDialogRun, SaveQuestionThroughZenityOrKdialog) {
    const char* text = "Unsaved <b>changes</b> & more; save?";
    const struct {
        const char* tool;
        const char* output;
        int status, answer;
    } cases[] = {{"zenity", "", 0, OS_ANSWER_SAVE},     {"zenity", "Discard\n", 1, OS_ANSWER_DISCARD},
                 {"zenity", "", 1, OS_ANSWER_CANCEL},   {"kdialog", "", 0, OS_ANSWER_SAVE},
                 {"kdialog", "", 1, OS_ANSWER_DISCARD}, {"kdialog", "", 2, OS_ANSWER_CANCEL}};
    for (const auto& c : cases) {
        std::filesystem::remove(dir + "/zenity");
        program(c.tool, c.output, c.status);
        EXPECT_EQ(os_question_dialog(text, "Unsaved changes"), c.answer) << c.tool << " " << c.status;
    }
    const std::vector<std::string> args = recorded_args("zenity");
    EXPECT_NE(std::find(args.begin(), args.end(), std::string("--text=") + text), args.end()) << "one argument";
    EXPECT_NE(std::find(args.begin(), args.end(), "--no-markup"), args.end());
    std::filesystem::remove(dir + "/kdialog");
    EXPECT_EQ(os_question_dialog(text, "Unsaved changes"), -1) << "neither program";
}

} // namespace

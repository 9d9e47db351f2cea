// The tracker's command line and the module it names: the options and their errors, the scale from the
// environment, a module loaded at start-up as LOAD would, and a file that gives no usable song, reported only
// once the window shows the tracker.
#include "app_fixture.h"

#include <fstream>
#include <vector>

namespace {

struct CommandRow {
    std::vector<const char*> args; // after the program name
    const char* env_scale;
    int32_t action;
    const char* file;
    int32_t scale;
    const char* error;   // expected in the error text, or null
    const char* warning; // expected in the warning text, or null
};

TEST(CommandLine, OptionsFileAndScale) {
    const CommandRow rows[] = {
        {{}, nullptr, APP_CMD_RUN, nullptr, 0, nullptr, nullptr},
        {{"tune.qvl"}, nullptr, APP_CMD_RUN, "tune.qvl", 0, nullptr, nullptr},
        {{"--scale", "2", "my song.qvl"}, nullptr, APP_CMD_RUN, "my song.qvl", 2, nullptr, nullptr},
        {{"--scale=3"}, "1", APP_CMD_RUN, nullptr, 3, nullptr, nullptr}, // the option wins over the environment
        {{"a.qvl"}, "2", APP_CMD_RUN, "a.qvl", 2, nullptr, nullptr},
        {{}, "7", APP_CMD_RUN, nullptr, 0, nullptr, "QUAVLO_SCALE takes 1, 2 or 3, not '7'"},
        {{}, "", APP_CMD_RUN, nullptr, 0, nullptr, nullptr},
        {{"--", "-odd name.qvl"}, nullptr, APP_CMD_RUN, "-odd name.qvl", 0, nullptr, nullptr},
        {{"-"}, nullptr, APP_CMD_RUN, "-", 0, nullptr, nullptr}, // a plain "-" is a name, as elsewhere
        {{"--help", "--bogus"}, nullptr, APP_CMD_HELP, nullptr, 0, nullptr, nullptr},
        {{"x.qvl", "-h"}, nullptr, APP_CMD_HELP, nullptr, 0, nullptr, nullptr},
        {{"--version"}, nullptr, APP_CMD_VERSION, nullptr, 0, nullptr, nullptr},
        {{"--scale", "4"}, nullptr, APP_CMD_ERROR, nullptr, 0, "--scale takes 1, 2 or 3, not '4'", nullptr},
        {{"--scale=big"}, "2", APP_CMD_ERROR, nullptr, 0, "not 'big'", nullptr},
        {{"--scale"}, nullptr, APP_CMD_ERROR, nullptr, 0, "--scale needs a value", nullptr},
        {{"--fullscreen"}, nullptr, APP_CMD_ERROR, nullptr, 0, "unknown option '--fullscreen'", nullptr},
        {{"a.qvl", "b.qvl"}, nullptr, APP_CMD_ERROR, nullptr, 0, "not also 'b.qvl'", nullptr},
    };
    for (const CommandRow& row : rows) {
        std::vector<const char*> argv{"quavlo"};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        std::string shown;
        for (const char* a : argv) shown += std::string(a) + " ";
        app_command_line out;
        memset(&out, 0x55, sizeof out);
        app_read_command_line((int)argv.size(), argv.data(), row.env_scale, &out);
        EXPECT_EQ(out.action, row.action) << shown;
        if (row.action == APP_CMD_RUN) {
            EXPECT_STREQ(out.file, row.file) << shown;
            EXPECT_EQ(out.scale, row.scale) << shown;
        }
        if (row.error)
            EXPECT_NE(std::string(out.error).find(row.error), std::string::npos) << shown << ": " << out.error;
        else
            EXPECT_EQ(out.error[0], 0) << shown << ": " << out.error;
        if (row.warning)
            EXPECT_NE(std::string(out.warning).find(row.warning), std::string::npos) << shown << ": " << out.warning;
        else
            EXPECT_EQ(out.warning[0], 0) << shown << ": " << out.warning;
    }
}

TEST(CommandLine, HelpAndVersionTexts) {
    EXPECT_EQ(std::string(app_version_text).rfind("QuavloII ", 0), 0u);
    EXPECT_EQ(std::string(app_version_text).find("unknown"), std::string::npos) << "the build sets the version";
    for (const char* word : {"--scale", "--help", "--version", "QUAVLO_SCALE", "SDL_FRAMEBUFFER_ACCELERATION"})
        EXPECT_NE(std::string(app_help_text).find(word), std::string::npos) << word;
}

// A module file outside the test's scratch folder, written before the tracker starts.
std::string write_module(const char* name, const std::vector<uint8_t>& bytes) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("quavlo_start_" + std::to_string(getpid()) + "_" + name)).string();
    std::ofstream(path, std::ios::binary).write((const char*)bytes.data(), (std::streamsize)bytes.size());
    return path;
}

// Each test names its module before the tracker starts.
class StartFileTest : public AppTest {
protected:
    std::string module;
    void SetUp() override {}
    void begin(const std::string& path) {
        module = path;
        app_start_file = module.c_str();
        AppTest::SetUp();
    }
    void TearDown() override {
        AppTest::TearDown();
        app_start_file = nullptr;
        if (!module.empty()) std::filesystem::remove(module);
    }
};

TEST_F(StartFileTest, TheModuleIsTheSongFromTheFirstFrame) {
    // Order 0, 1, 0; pattern 0 holds C-4 with sample 2 in channel 0, row 0; pattern 1 is empty.
    begin(write_module("tune.qvl", {'Q', 'V', 0, 3, 0, 1, 0, 0x03, 0x40, 0x02, 0x80, 0xFE, 0x00, 0x80, 0xFF, 0x00}));
    EXPECT_EQ(app.song.order_len, 3);
    EXPECT_EQ(app.song.order[1], 1);
    ASSERT_EQ(app.song.pattern_count, 2);
    EXPECT_EQ(*snd_cell_field(app.song.patterns[0], 0, SND_FIELD_NOTE, 0), 0x40);
    EXPECT_EQ(*snd_cell_field(app.song.patterns[0], 0, SND_FIELD_SAMPLE, 0), 2);
    EXPECT_EQ(app.song.sample_count, 8);
    step(3);
    EXPECT_EQ(hl_message_boxes, 0);
    // The first frame shows the note: the pattern view differs from that of a new song.
    const std::vector<uint32_t> loaded(hl_window, hl_window + 900 * 520);
    tap(VK_DELETE); // edit mode is on at start: clears the cell under the cursor, channel 0 row 0
    step(2);
    EXPECT_NE(std::vector<uint32_t>(hl_window, hl_window + 900 * 520), loaded);
}

TEST_F(StartFileTest, AFileWithoutAUsableSongIsReportedOverTheNewSong) {
    begin(write_module("wrong.qvl", {'X', 'Y', 0, 1, 0, 0x80, 0xFF, 0}));
    EXPECT_EQ(app.song.pattern_count, 1);
    EXPECT_EQ(app.song.order_len, 1);
    EXPECT_EQ(hl_message_boxes, 0) << "no box before the window shows anything";
    int32_t presents_at_box = -1;
    hl_on_modal = [&] { presents_at_box = hl_presents; };
    step();
    EXPECT_EQ(hl_message_boxes, 0);
    step();
    EXPECT_EQ(hl_message_boxes, 1);
    EXPECT_EQ(hl_message_text, "Can not load");
    EXPECT_EQ(hl_message_caption, "ERROR");
    EXPECT_GE(presents_at_box, 1) << "the first frame was on the screen when the box opened";
    step(5);
    EXPECT_EQ(hl_message_boxes, 1) << "reported once";
    EXPECT_EQ(app.song.pattern_count, 1);
}

TEST_F(StartFileTest, AMissingFileIsReportedToo) {
    begin((std::filesystem::temp_directory_path() / "quavlo_no_such_dir" / "gone.qvl").string());
    step(2);
    EXPECT_EQ(hl_message_boxes, 1);
    EXPECT_EQ(hl_message_text, "Can not load");
    EXPECT_EQ(app.song.order_len, 1);
}

} // namespace

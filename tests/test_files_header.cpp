// C header export: the exact text, 20 entries a line, names of any length, and "temp.tmp" gone afterwards
// whatever happened.
#include "log_capture.h"
#include "test_files_fixture.h"

using namespace files_test;

namespace {

class Header : public InTempDir {
protected:
    snd_song song{};
    void TearDown() override {
        snd_free_song(&eng, &song);
        InTempDir::TearDown();
    }
    // A song of one empty pattern whose module is 4 + n + 3 bytes long.
    void song_with_order(int n) {
        snd_create_song(&eng, &song, 1);
        while (song.order_len < n) snd_insert_order(&song, song.order_len);
    }
    // The text the export must write for the module currently in song.
    std::string expected_text(const std::string& name) {
        EXPECT_EQ(save_module("reference.qvl", &song), 1);
        const bytes module = read_file("reference.qvl");
        std::remove("reference.qvl");
        std::string text = "const byte " + name + "[]=\n{\n";
        char entry[8];
        for (size_t i = 0; i < module.size(); i++) {
            snprintf(entry, sizeof entry, "0x%02X,", module[i]);
            text += entry;
            if ((i + 1) % 20 == 0) text += "\n";
        }
        return text + "};\n";
    }
};

TEST_F(Header, EmptySongIsThreeLines) {
    snd_create_song(&eng, &song, 1);
    ASSERT_NE(export_c_header("song.h", "song", &song), 0);
    EXPECT_EQ(read_text("song.h"), "const byte song[]=\n{\n0x51,0x56,0x00,0x01,0x00,0x80,0xFF,0x00,};\n");
    EXPECT_EQ(entries(), std::vector<std::string>{"song.h"});
}

TEST_F(Header, TwentyBytesEndTheLineAndPutTheCloseOnItsOwnLine) {
    song_with_order(13);
    ASSERT_NE(export_c_header("song.h", "song", &song), 0);
    const std::string text = read_text("song.h");
    EXPECT_EQ(text, "const byte song[]=\n{\n"
                    "0x51,0x56,0x00,0x0D,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x80,0xFF,"
                    "0x00,\n};\n");
}

TEST_F(Header, TwentyOneBytesPutTheLastEntryBeforeTheClose) {
    song_with_order(14);
    ASSERT_NE(export_c_header("song.h", "song", &song), 0);
    EXPECT_EQ(read_text("song.h"), "const byte song[]=\n{\n"
                                   "0x51,0x56,0x00,0x0E,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,"
                                   "0x00,0x00,0x80,0xFF,\n0x00,};\n");
}

TEST_F(Header, LargerSongsHaveTwentyEntriesOnEveryLineButTheLast) {
    snd_create_song(&eng, &song, 5);
    for (int p = 0; p < 5; p++)
        for (int r = 0; r < 64; r += 3) {
            *snd_cell_flags(song.patterns[p], p % 4, r) = 0x1B;
            *snd_cell_field(song.patterns[p], p % 4, SND_FIELD_NOTE, r) = (uint8_t)(r + p);
            *snd_cell_field(song.patterns[p], p % 4, SND_FIELD_EFFECT, r) = 0xAB;
        }
    ASSERT_NE(export_c_header("big.h", "big", &song), 0);
    EXPECT_EQ(read_text("big.h"), expected_text("big"));
}

TEST_F(Header, LongArrayNamesAreWrittenWhole) {
    snd_create_song(&eng, &song, 1);
    const std::string name(3000, 'n');
    ASSERT_NE(export_c_header("long.h", name.c_str(), &song), 0);
    EXPECT_EQ(read_text("long.h"), expected_text(name));
}

TEST_F(Header, AnExistingTempFileIsOverwrittenAndRemoved) {
    snd_create_song(&eng, &song, 1);
    write_file("temp.tmp", bytes(5000, 0xEE));
    ASSERT_NE(export_c_header("song.h", "song", &song), 0);
    EXPECT_EQ(read_text("song.h"), "const byte song[]=\n{\n0x51,0x56,0x00,0x01,0x00,0x80,0xFF,0x00,};\n");
    EXPECT_EQ(entries(), std::vector<std::string>{"song.h"});
}

TEST_F(Header, EmptyOrderListFailsLeavesNoTempFileAndKeepsAnOlderHeader) {
    snd_create_song(&eng, &song, 0);
    snd_add_pattern(&song);
    write_file("song.h", {'o', 'l', 'd'});
    EXPECT_EQ(export_c_header("song.h", "song", &song), 0);
    EXPECT_EQ(read_text("song.h"), "old");
    EXPECT_EQ(entries(), std::vector<std::string>{"song.h"});
}

TEST_F(Header, UnwritableHeaderFailsAndLeavesNoTempFile) {
    snd_create_song(&eng, &song, 1);
    EXPECT_EQ(export_c_header("missing-dir/song.h", "song", &song), 0);
    std::filesystem::create_directory("taken.h");
    EXPECT_EQ(export_c_header("taken.h", "taken", &song), 0);
    EXPECT_TRUE(std::filesystem::is_directory("taken.h"));
    EXPECT_EQ(entries(), std::vector<std::string>{"taken.h"});
}

TEST(HeaderName, FileNameUpToItsFirstDotAsACIdentifier) {
    const std::pair<const char*, const char*> cases[] = {{"/home/me/tune", "tune"},
                                                         {"songs\\Tune_2.h", "Tune_2"},
                                                         {"my.song.h", "my"},
                                                         {"dir/my-song.h", "my_song"},
                                                         {"9-lives.h", "_9_lives"},
                                                         {".h", "_"},
                                                         {"lied-\xC3\xBC.h", "lied___"},
                                                         {"_ok9.h", "_ok9"}};
    for (const auto& [path, expected] : cases) {
        char name[64];
        EXPECT_EQ(snd_header_name(path, name, (int32_t)sizeof name), (int32_t)strlen(expected)) << path;
        EXPECT_STREQ(name, expected) << path;
    }
    // A buffer too small keeps what fits and still tells the whole length.
    char small[4];
    EXPECT_EQ(snd_header_name("dir/9-lives.h", small, (int32_t)sizeof small), 8);
    EXPECT_STREQ(small, "_9_");
}

} // namespace

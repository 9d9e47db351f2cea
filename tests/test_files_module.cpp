// Module files: the packing of patterns, every outcome of the reader, round trips, the usable-song repair, and
// saves that fail without harming the file they were meant to replace.
#include "log_capture.h"
#include "test_files_fixture.h"

#include <random>

using namespace files_test;

namespace {

class Module : public InTempDir {
protected:
    snd_song song{};
    snd_song loaded{};
    void TearDown() override {
        snd_free_song(&eng, &song);
        snd_free_song(&eng, &loaded);
        InTempDir::TearDown();
    }
    // Sets a cell's flag byte and writes the fields its bits name (others keep what they hold).
    static void set_cell(snd_pattern* p, int c, int r, uint8_t flags, std::vector<uint8_t> fields) {
        *snd_cell_flags(p, c, r) = flags;
        for (int f = 0; f < 5 && f < (int)fields.size(); f++) *snd_cell_field(p, c, f, r) = fields[f];
    }
    bytes saved(const snd_song& s) {
        EXPECT_EQ(save_module("song.qvl", &s), 1);
        return read_file("song.qvl");
    }
    void load(const bytes& file) {
        write_file("in.qvl", file);
        snd_free_song(&eng, &loaded);
        loaded = load_module(&eng, "in.qvl");
    }
    std::vector<int> order(const snd_song& s) const { return std::vector<int>(s.order, s.order + s.order_len); }
    static bool pattern_empty(const snd_pattern* p) {
        for (uint8_t b : p->bytes)
            if (b) return false;
        return true;
    }
};

bytes header(std::vector<uint8_t> order) {
    bytes b = {'Q', 'V', (uint8_t)(order.size() >> 8), (uint8_t)order.size()};
    for (uint8_t entry : order) b.push_back(entry);
    return b;
}
bytes operator+(bytes a, const bytes& b) {
    for (uint8_t byte : b) a.push_back(byte);
    return a;
}

// ---- Writer

TEST_F(Module, NewSongSavesAsEightBytesWithTheEmptyPatternAs80FF00) {
    snd_create_song(&eng, &song, 1);
    EXPECT_EQ(saved(song), (bytes{0x51, 0x56, 0x00, 0x01, 0x00, 0x80, 0xFF, 0x00}));
}

TEST_F(Module, OrderLengthIsBigEndianAndTheListFollowsAsStored) {
    snd_create_song(&eng, &song, 3);
    for (int i = 0; i < 297; i++) snd_insert_order(&song, song.order_len);
    song.order[0] = 2;
    song.order[299] = 1;
    const bytes file = saved(song);
    ASSERT_EQ(file.size(), 4u + 300 + 3 * 3);
    EXPECT_EQ(file[2], 0x01);
    EXPECT_EQ(file[3], 0x2C);
    EXPECT_EQ(file[4], 2);
    EXPECT_EQ(file[4 + 299], 1);
}

TEST_F(Module, NoteInFirstCellPacksAsCellThenRunOf254ThenLastCell) {
    snd_create_song(&eng, &song, 1);
    set_cell(song.patterns[0], 0, 0, 0x03, {0x45, 2});
    EXPECT_EQ(saved(song), (header({0}) + bytes{0x03, 0x45, 0x02, 0x80, 0xFE, 0x00}));
}

TEST_F(Module, OnlyTheLastCellFilledPacksAsFullRunThenTheCell) {
    snd_create_song(&eng, &song, 1);
    set_cell(song.patterns[0], 3, 63, 0x1F, {0x30, 7, 15, 0x43, 0x99});
    EXPECT_EQ(saved(song), (header({0}) + bytes{0x80, 0xFF, 0x1F, 0x30, 7, 15, 0x43, 0x99}));
}

TEST_F(Module, RunsCrossChannelBoundariesButNotPatterns) {
    snd_create_song(&eng, &song, 2);
    set_cell(song.patterns[0], 0, 60, 0x01, {0x11});
    set_cell(song.patterns[0], 1, 2, 0x04, {0, 0, 9});
    // Rows 61..63 of channel 0 and rows 0..1 of channel 1 form one run of 5; the second pattern starts its own.
    const bytes expected =
        header({0, 0}) + bytes{0x80, 60, 0x01, 0x11, 0x80, 5, 0x04, 9, 0x80, 188, 0x00} + bytes{0x80, 0xFF, 0x00};
    EXPECT_EQ(saved(song), expected);
}

// One filled cell at every position of a pattern, with a lone bit-7 flag (stored as empty) in front of it: the
// empty cells around it always pack as one run before and one after, and the last cell is written as a cell.
TEST_F(Module, OneFilledCellAnywherePacksAsRunCellRunLastCell) {
    for (int cell = 0; cell < 256; cell++) {
        SCOPED_TRACE(cell);
        snd_free_song(&eng, &song);
        snd_create_song(&eng, &song, 1);
        set_cell(song.patterns[0], cell / 64, cell % 64, 0x01, {0x42});
        if (cell > 0) set_cell(song.patterns[0], (cell - 1) / 64, (cell - 1) % 64, 0x80, {});
        bytes expected = header({0});
        if (cell > 0) expected = expected + bytes{0x80, (uint8_t)cell};
        expected = expected + bytes{0x01, 0x42};
        if (cell < 254) expected = expected + bytes{0x80, (uint8_t)(254 - cell)};
        if (cell < 255) expected.push_back(0x00);
        ASSERT_EQ(saved(song), expected);
    }
}

TEST_F(Module, FieldsWithoutTheirFlagBitAreNotWrittenAndLoadAsZero) {
    snd_create_song(&eng, &song, 1);
    snd_pattern* p = song.patterns[0];
    set_cell(p, 0, 0, 0x00, {1, 2, 3, 4, 5}); // empty cell with stale fields
    set_cell(p, 0, 1, 0x05, {0x40, 6, 7, 8, 9});
    const bytes file = saved(song);
    EXPECT_EQ(file, (header({0}) + bytes{0x80, 1, 0x05, 0x40, 7, 0x80, 253, 0x00}));
    load(file);
    ASSERT_EQ(loaded.pattern_count, 1);
    snd_pattern* q = loaded.patterns[0];
    for (int f = 0; f < 5; f++) EXPECT_EQ(*snd_cell_field(q, 0, f, 0), 0) << "field " << f;
    EXPECT_EQ(*snd_cell_flags(q, 0, 0), 0);
    EXPECT_EQ(*snd_cell_flags(q, 0, 1), 0x05);
    EXPECT_EQ(*snd_cell_field(q, 0, SND_FIELD_NOTE, 1), 0x40);
    EXPECT_EQ(*snd_cell_field(q, 0, SND_FIELD_SAMPLE, 1), 0);
    EXPECT_EQ(*snd_cell_field(q, 0, SND_FIELD_VOLUME, 1), 7);
    EXPECT_EQ(*snd_cell_field(q, 0, SND_FIELD_EFFECT, 1), 0);
    EXPECT_EQ(*snd_cell_field(q, 0, SND_FIELD_PARAM, 1), 0);
}

TEST_F(Module, FlagBits5To7GoIntoTheFileAndComeBack) {
    snd_create_song(&eng, &song, 1);
    set_cell(song.patterns[0], 1, 7, 0xE1, {0x52});
    set_cell(song.patterns[0], 2, 9, 0xA0, {});
    const bytes file = saved(song);
    EXPECT_EQ(file, (header({0}) + bytes{0x80, 71, 0xE1, 0x52, 0x80, 65, 0xA0, 0x80, 117, 0x00}));
    load(file);
    ASSERT_EQ(loaded.pattern_count, 1);
    EXPECT_EQ(*snd_cell_flags(loaded.patterns[0], 1, 7), 0xE1);
    EXPECT_EQ(*snd_cell_field(loaded.patterns[0], 1, SND_FIELD_NOTE, 7), 0x52);
    EXPECT_EQ(*snd_cell_flags(loaded.patterns[0], 2, 9), 0xA0);
}

TEST_F(Module, ALoneBit7FlagIsSavedAsAnEmptyCellNotAsARunItem) {
    snd_create_song(&eng, &song, 1);
    set_cell(song.patterns[0], 0, 0, 0x80, {});
    set_cell(song.patterns[0], 0, 1, 0x01, {0x20});
    const bytes file = saved(song);
    EXPECT_EQ(file, (header({0}) + bytes{0x80, 1, 0x01, 0x20, 0x80, 253, 0x00}));
    load(file);
    ASSERT_EQ(loaded.pattern_count, 1);
    EXPECT_EQ(*snd_cell_field(loaded.patterns[0], 0, SND_FIELD_NOTE, 1), 0x20);
}

TEST_F(Module, RandomSongsSurviveSaveAndLoad) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 25; round++) {
        snd_free_song(&eng, &song);
        const int patterns = 1 + (int)(rng() % 12);
        snd_create_song(&eng, &song, (uint8_t)patterns);
        const int extra = (int)(rng() % (round == 0 ? 600 : 40));
        for (int i = 0; i < extra; i++) snd_insert_order(&song, song.order_len);
        for (int i = 0; i < song.order_len; i++) song.order[i] = (uint8_t)(rng() % patterns);
        const int density = 1 + (int)(rng() % 100); // percent of filled cells
        for (int p = 0; p < patterns; p++)
            for (int c = 0; c < 4; c++)
                for (int r = 0; r < 64; r++) {
                    uint8_t flags = 0;
                    if ((int)(rng() % 100) < density) {
                        flags = (uint8_t)rng();
                        if (flags == 0 || flags == 0x80) flags = 0x1F;
                    }
                    set_cell(song.patterns[p], c, r, flags, {});
                    for (int f = 0; f < 5; f++) // only fields named by a flag bit survive
                        *snd_cell_field(song.patterns[p], c, f, r) = (flags & (1 << f)) ? (uint8_t)rng() : 0;
                }
        const bytes file = saved(song);
        load(file);
        ASSERT_EQ(loaded.sample_count, 8);
        ASSERT_EQ(order(loaded), order(song)) << "round " << round;
        ASSERT_EQ(loaded.pattern_count, song.pattern_count) << "round " << round;
        for (int p = 0; p < patterns; p++)
            ASSERT_EQ(memcmp(loaded.patterns[p]->bytes, song.patterns[p]->bytes, SND_PATTERN_BYTES), 0)
                << "round " << round << " pattern " << p;
        EXPECT_EQ(loaded.order_pos, 0);
        EXPECT_EQ(loaded.pattern, 0);
        EXPECT_EQ(loaded.state, 0);
        // Writing what was read gives the same bytes again.
        EXPECT_EQ(saved(loaded), file) << "round " << round;
    }
}

TEST_F(Module, LoadedSongGetsFreshSamples) {
    snd_create_song(&eng, &song, 1);
    const bytes file = saved(song);
    clock_value = 1234;
    load(file);
    ASSERT_EQ(loaded.sample_count, 8);
    ASSERT_EQ(loaded.samples[6].length, 100000);
    EXPECT_NE(memcmp(loaded.samples[6].data, song.samples[6].data, 100000 * sizeof(float)), 0);
    EXPECT_EQ(memcmp(loaded.samples[0].data, song.samples[0].data, 10000 * sizeof(float)), 0);
}

// ---- Reader outcomes

TEST_F(Module, MissingEmptyOrUnreadableFileGivesAnAllZeroRecord) {
    auto expect_zero = [](const snd_song& s) {
        EXPECT_EQ(s.sample_count, 0);
        EXPECT_EQ(s.samples, nullptr);
        EXPECT_EQ(s.pattern_count, 0);
        EXPECT_EQ(s.patterns, nullptr);
        EXPECT_EQ(s.order_len, 0);
        EXPECT_EQ(s.order, nullptr);
    };
    loaded = load_module(&eng, "does-not-exist.qvl");
    expect_zero(loaded);
    write_file("empty.qvl", {});
    loaded = load_module(&eng, "empty.qvl");
    expect_zero(loaded);
    std::filesystem::create_directory("folder.qvl");
    loaded = load_module(&eng, "folder.qvl");
    expect_zero(loaded);
    EXPECT_EQ(eng.snd_live_samples, 0);
}

TEST_F(Module, WrongMagicShortFileOrOrderListPastTheEndGiveAFreshEmptySong) {
    const std::vector<bytes> files = {
        {'Q', 'W', 0, 1, 0, 0x80, 0xFF, 0}, // not the magic
        {'Q'},                              // shorter than the header
        {'Q', 'V'},
        {'Q', 'V', 0},
        {'Q', 'V', 0, 3, 0, 0}, // order list of 3 in a file with room for 2
        {'Q', 'V', 0xFF, 0xFF, 1, 2, 3},
    };
    for (const bytes& file : files) {
        load(file);
        EXPECT_EQ(loaded.sample_count, 8) << file.size();
        EXPECT_EQ(loaded.pattern_count, 0) << file.size();
        EXPECT_EQ(loaded.patterns, nullptr);
        EXPECT_EQ(loaded.order_len, 0) << file.size();
        EXPECT_EQ(loaded.order, nullptr);
        EXPECT_FALSE(snd_song_usable(&loaded));
    }
}

TEST_F(Module, OrderLengthZeroIgnoresThePatternDataThatFollows) {
    load(header({}) + bytes{0x01, 0x30, 0x80, 0xFF});
    EXPECT_EQ(loaded.sample_count, 8);
    EXPECT_EQ(loaded.order_len, 0);
    EXPECT_EQ(loaded.pattern_count, 0);
}

TEST_F(Module, FileEndingRightAfterTheOrderListHasNoPatterns) {
    load(header({0, 3, 1}));
    EXPECT_EQ(order(loaded), (std::vector<int>{0, 3, 1}));
    EXPECT_EQ(loaded.pattern_count, 0);
    EXPECT_TRUE(snd_song_usable(&loaded));
}

TEST_F(Module, FileEndingInsideAPatternKeepsOnlyTheCompletedOnes) {
    const bytes two_patterns = header({0, 1, 2}) + bytes{0x01, 0x40, 0x80, 0xFF} + bytes{0x80, 0xFF, 0x00};
    const std::vector<bytes> cuts = {
        {0x03, 0x40},       // inside a cell's fields
        {0x80},             // before a run's count
        {0x80, 0x10},       // before the next item
        {0x80, 0xFF},       // before the last cell
        {0x1F, 1, 2, 3, 4}, // before the last field
    };
    for (const bytes& cut : cuts) {
        load(two_patterns + cut);
        EXPECT_EQ(order(loaded), (std::vector<int>{0, 1, 2}));
        ASSERT_EQ(loaded.pattern_count, 2) << cut.size();
        EXPECT_EQ(*snd_cell_field(loaded.patterns[0], 0, SND_FIELD_NOTE, 0), 0x40);
        EXPECT_TRUE(pattern_empty(loaded.patterns[1]));
    }
}

TEST_F(Module, WellFormedFileGivesEveryPatternAndOrderEntriesAsStored) {
    load(header({4, 0, 1}) + bytes{0x80, 0xFF, 0x00} + bytes{0x80, 0xFF, 0x09, 0x40, 0x0F});
    EXPECT_EQ(order(loaded), (std::vector<int>{4, 0, 1})); // 4 names no pattern; the reader keeps it
    ASSERT_EQ(loaded.pattern_count, 2);
    EXPECT_TRUE(pattern_empty(loaded.patterns[0]));
    EXPECT_EQ(*snd_cell_flags(loaded.patterns[1], 3, 63), 0x09);
    EXPECT_EQ(*snd_cell_field(loaded.patterns[1], 3, SND_FIELD_NOTE, 63), 0x40);
    EXPECT_EQ(*snd_cell_field(loaded.patterns[1], 3, SND_FIELD_EFFECT, 63), 0x0F);
}

TEST_F(Module, RunCountZeroEmptiesTheRestOfThePattern) {
    load(header({0}) + bytes{0x01, 0x30, 0x80, 0x00} + bytes{0x01, 0x40, 0x80, 0xFF});
    ASSERT_EQ(loaded.pattern_count, 2);
    EXPECT_EQ(*snd_cell_field(loaded.patterns[0], 0, SND_FIELD_NOTE, 0), 0x30);
    EXPECT_EQ(*snd_cell_flags(loaded.patterns[0], 0, 1), 0);
    EXPECT_EQ(*snd_cell_field(loaded.patterns[1], 0, SND_FIELD_NOTE, 0), 0x40);
    // "80 00" alone is a whole empty pattern.
    load(header({0}) + bytes{0x80, 0x00} + bytes{0x80, 0x00});
    EXPECT_EQ(loaded.pattern_count, 2);
}

TEST_F(Module, RunLongerThanTheRestOfThePatternIsCutAtItsEnd) {
    load(header({0}) + bytes{0x80, 250, 0x01, 0x11, 0x80, 0xFF} + bytes{0x01, 0x22, 0x80, 0xFF});
    ASSERT_EQ(loaded.pattern_count, 2);
    EXPECT_EQ(*snd_cell_field(loaded.patterns[0], 3, SND_FIELD_NOTE, 58), 0x11); // cell 250
    EXPECT_EQ(*snd_cell_field(loaded.patterns[1], 0, SND_FIELD_NOTE, 0), 0x22);
}

TEST_F(Module, ReadRunsCrossChannels) {
    load(header({0}) + bytes{0x80, 66, 0x01, 0x33, 0x80, 0xFF});
    ASSERT_EQ(loaded.pattern_count, 1);
    EXPECT_EQ(*snd_cell_flags(loaded.patterns[0], 1, 2), 0x01);
    EXPECT_EQ(*snd_cell_field(loaded.patterns[0], 1, SND_FIELD_NOTE, 2), 0x33);
}

TEST_F(Module, ReadingStopsAfter255Patterns) {
    bytes file = header({0});
    for (int i = 0; i < 300; i++) file = file + bytes{0x01, (uint8_t)i, 0x80, 0xFF};
    load(file);
    ASSERT_EQ(loaded.pattern_count, 255);
    EXPECT_EQ(*snd_cell_field(loaded.patterns[254], 0, SND_FIELD_NOTE, 0), 254);
    // The writer gives back exactly the 255 that were kept, each closed by an explicit last cell.
    snd_song copy = loaded;
    loaded = snd_song{};
    const bytes again = saved(copy);
    snd_free_song(&eng, &copy);
    bytes expected = header({0});
    for (int i = 0; i < 255; i++) expected = expected + bytes{0x01, (uint8_t)i, 0x80, 0xFE, 0x00};
    EXPECT_EQ(again, expected);
}

TEST_F(Module, UnpackingAnInMemoryBufferMatchesLoading) {
    const bytes file = header({1, 0}) + bytes{0x80, 0xFF, 0x00} + bytes{0x1F, 1, 2, 3, 4, 5, 0x80, 0};
    snd_song direct = snd_unpack_module(&eng, file.data(), (int32_t)file.size());
    load(file);
    ASSERT_EQ(direct.pattern_count, loaded.pattern_count);
    ASSERT_EQ(order(direct), order(loaded));
    for (int p = 0; p < direct.pattern_count; p++)
        EXPECT_EQ(memcmp(direct.patterns[p], loaded.patterns[p], SND_PATTERN_BYTES), 0);
    snd_free_song(&eng, &direct);
    snd_song none = snd_unpack_module(&eng, nullptr, 0);
    EXPECT_EQ(none.sample_count, 8);
    EXPECT_EQ(none.order_len, 0);
    snd_free_song(&eng, &none);
}

// Packing in memory gives the file's bytes, counts without storing, and stops storing at the capacity; reading
// into a bare record fills only the order list and patterns, so no samples need generating.
TEST_F(Module, PackingAndReadingInMemoryMatchTheFile) {
    snd_create_song(&eng, &song, 2);
    set_cell(song.patterns[1], 2, 7, 0x1F, {0x45, 3, 9, 0x07, 0x21});
    song.order[1] = 1;
    const bytes file = saved(song);
    EXPECT_EQ(snd_pack_module(&song, nullptr, 0), (int32_t)file.size());
    bytes packed(file.size() + 4, 0xEE);
    EXPECT_EQ(snd_pack_module(&song, packed.data(), 10), (int32_t)file.size());
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + 10, packed.begin()));
    EXPECT_EQ(packed[10], 0xEE);

    snd_song bare{};
    ASSERT_EQ(snd_read_module(&bare, file.data(), (int32_t)file.size()), 1);
    EXPECT_EQ(bare.sample_count, 0);
    EXPECT_EQ(order(bare), (std::vector<int>{0, 1}));
    ASSERT_EQ(bare.pattern_count, 2);
    EXPECT_EQ(memcmp(bare.patterns[1], song.patterns[1], SND_PATTERN_BYTES), 0);
    snd_free_song(&eng, &bare);

    snd_song empty_order{};
    empty_order.order_len = 0;
    EXPECT_EQ(snd_pack_module(&empty_order, nullptr, 0), -1);
    EXPECT_EQ(snd_read_module(&bare, header({}).data(), 4), 0);
    EXPECT_EQ(bare.order, nullptr);
}

// ---- Making a loaded song usable

TEST_F(Module, RepairPointsStrayOrderEntriesAtPatternZero) {
    load(header({0, 5, 1, 2}) + bytes{0x80, 0xFF, 0x00} + bytes{0x80, 0xFF, 0x00});
    ASSERT_TRUE(snd_song_usable(&loaded));
    snd_repair_song(&loaded);
    EXPECT_EQ(order(loaded), (std::vector<int>{0, 0, 1, 0}));
    EXPECT_EQ(loaded.pattern_count, 2);
}

TEST_F(Module, RepairGivesASongWithoutPatternsAnEmptyOne) {
    load(header({3, 0}));
    snd_repair_song(&loaded);
    ASSERT_EQ(loaded.pattern_count, 1);
    EXPECT_TRUE(pattern_empty(loaded.patterns[0]));
    EXPECT_EQ(order(loaded), (std::vector<int>{0, 0}));
}

// ---- Failed saves keep the old file

class ModuleSaveFailure : public Module {
protected:
    const bytes old_file = {'o', 'l', 'd'};
    void SetUp() override {
        Module::SetUp();
        write_file("keep.qvl", old_file);
    }
    void expect_untouched() {
        EXPECT_EQ(read_file("keep.qvl"), old_file);
        EXPECT_EQ(entries(), std::vector<std::string>{"keep.qvl"}) << "temporary file left behind";
    }
};

TEST_F(ModuleSaveFailure, EmptyOrderListFailsAndKeepsTheOldFile) {
    snd_create_song(&eng, &song, 1);
    snd_free_song(&eng, &song);
    snd_create_song(&eng, &song, 0);
    snd_add_pattern(&song);
    EXPECT_EQ(save_module("keep.qvl", &song), 0);
    expect_untouched();
}

TEST_F(ModuleSaveFailure, TargetThatCannotBeReplacedOrCreatedFails) {
    snd_create_song(&eng, &song, 1);
    LogCapture log;
    EXPECT_EQ(save_module("no-such-dir/song.qvl", &song), 0);
    EXPECT_GE(log.asserts(), 1);
    std::filesystem::create_directory("folder.qvl");
    EXPECT_EQ(save_module("folder.qvl", &song), 0);
    EXPECT_TRUE(std::filesystem::is_directory("folder.qvl"));
    EXPECT_EQ(entries(), (std::vector<std::string>{"folder.qvl", "keep.qvl"}));
    EXPECT_EQ(read_file("keep.qvl"), old_file);
}

TEST_F(ModuleSaveFailure, OrderListLongerThanTheFormatHoldsIsRefused) {
    snd_create_song(&eng, &song, 1);
    os_free(&song.order);
    song.order = (uint8_t*)os_alloc(65536);
    song.order_len = 65536;
    LogCapture log;
    EXPECT_EQ(save_module("keep.qvl", &song), 0);
    EXPECT_GE(log.asserts(), 1);
    expect_untouched();
    song.order_len = 65535; // the longest list the 16-bit length holds
    EXPECT_EQ(save_module("keep.qvl", &song), 1);
    EXPECT_EQ(read_file("keep.qvl").size(), 4u + 65535 + 3);
}

TEST_F(ModuleSaveFailure, SuccessfulSaveReplacesTheFileAndLeavesNothingElse) {
    snd_create_song(&eng, &song, 1);
    write_file("keep.qvl.0.part", {'x'}); // someone else's file of the temporary's name is not taken over
    EXPECT_EQ(save_module("keep.qvl", &song), 1);
    EXPECT_EQ(read_file("keep.qvl"), (header({0}) + bytes{0x80, 0xFF, 0x00}));
    EXPECT_EQ(read_file("keep.qvl.0.part"), bytes{'x'});
    EXPECT_EQ(entries(), (std::vector<std::string>{"keep.qvl", "keep.qvl.0.part"}));
}

} // namespace

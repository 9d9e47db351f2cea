// Module files on a POSIX system only: a write that fails part-way, made by a file-size limit as a full disk
// would make it, keeps the old file and leaves no temporary file behind.
#include "test_files_fixture.h"

#include <csignal>
#include <sys/resource.h>

using namespace files_test;

namespace {

class ModuleSaveFailure : public InTempDir {
protected:
    snd_song song{};
    const bytes old_file = {'o', 'l', 'd'};
    void SetUp() override {
        InTempDir::SetUp();
        write_file("keep.qvl", old_file);
    }
    void TearDown() override {
        snd_free_song(&song);
        InTempDir::TearDown();
    }
    void expect_untouched() {
        EXPECT_EQ(read_file("keep.qvl"), old_file);
        EXPECT_EQ(entries(), std::vector<std::string>{"keep.qvl"}) << "temporary file left behind";
    }
};

TEST_F(ModuleSaveFailure, WriteErrorPartWayFailsAndKeepsTheOldFile) {
    snd_create_song(&song, 40);
    for (int p = 0; p < 40; p++)
        for (int r = 0; r < 64; r++) *snd_cell_flags(song.patterns[p], 0, r) = 0x1F;
    // A file-size limit makes the writes fail after 1000 bytes, as a full disk would.
    struct rlimit before;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    auto old_handler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = before;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int32_t result = save_module("keep.qvl", &song);
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, old_handler);
    EXPECT_EQ(result, 0);
    expect_untouched();
}

} // namespace

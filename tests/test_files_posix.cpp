// Module files on a POSIX system only: a write that fails part-way, made by a file-size limit as a full disk
// would make it, keeps the old file and leaves no temporary file behind; a save killed at any moment leaves the
// old module or the new one.
#include "test_files_fixture.h"

#include <csignal>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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
        snd_free_song(&eng, &song);
        InTempDir::TearDown();
    }
    void expect_untouched() {
        EXPECT_EQ(read_file("keep.qvl"), old_file);
        EXPECT_EQ(entries(), std::vector<std::string>{"keep.qvl"}) << "temporary file left behind";
    }
};

TEST_F(ModuleSaveFailure, WriteErrorPartWayFailsAndKeepsTheOldFile) {
    snd_create_song(&eng, &song, 40);
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

// Saves killed at random moments, by a signal that cannot be caught: the target always holds one of the two modules
// whole. The temporary files the kills leave keep their own names, and the next save still goes through.
TEST_F(ModuleSaveFailure, KilledSaveLeavesTheOldOrTheNewModule) {
    snd_song other{};
    snd_create_song(&eng, &song, 30);
    for (int r = 0; r < 64; r++) *snd_cell_flags(song.patterns[29], 3, r) = 0x1F;
    snd_create_song(&eng, &other, 1);
    bytes module[2];
    for (int i = 0; i < 2; i++) {
        const snd_song* s = i ? &other : &song;
        module[i].resize((size_t)snd_pack_module(s, nullptr, 0));
        snd_pack_module(s, module[i].data(), (int32_t)module[i].size());
    }
    write_file("keep.qvl", module[0]);
    std::mt19937 random(16);
    for (int round = 0; round < 25; round++) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            for (;;) {
                save_module("keep.qvl", &other);
                save_module("keep.qvl", &song);
            }
        usleep((useconds_t)(random() % 30000));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const bytes now = read_file("keep.qvl");
        ASSERT_TRUE(now == module[0] || now == module[1]) << "a torn file of " << now.size() << " bytes";
    }
    size_t parts = 0;
    for (const std::string& name : entries()) parts += name.rfind("keep.qvl.", 0) == 0;
    EXPECT_EQ(parts + 1, entries().size()) << "nothing but the target and temporary files beside it";
    EXPECT_EQ(save_module("keep.qvl", &other), 1);
    EXPECT_EQ(read_file("keep.qvl"), module[1]);
    EXPECT_EQ(entries().size(), parts + 1) << "the save left no temporary file of its own";
    snd_free_song(&eng, &other);
}

} // namespace

// Recording onto a disk that fills up: a small tmpfs where the test may mount one (as root), else a file-size
// limit, which fails the write the same way (EFBIG instead of ENOSPC). Either way a real write fails in the C library.
#include "app_fixture.h"

#include <csignal>
#include <fstream>
#include <iterator>
#include <sys/mount.h>
#include <sys/resource.h>
#include <vector>

namespace {

class FullDiskTest : public AppTest {
protected:
    std::filesystem::path small; // directory on the small file system, the current one during the test
    bool mounted = false;
    bool limited = false;
    rlimit old_limit{};

    // Makes the current directory one where no file can grow beyond bytes.
    void limit_disk(int64_t bytes) {
        small = dir / "small";
        std::filesystem::create_directories(small);
        const std::string size = "size=" + std::to_string(bytes);
        mounted = mount("tmpfs", small.c_str(), "tmpfs", 0, size.c_str()) == 0;
        if (!mounted) {
            ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
            rlimit limit = old_limit;
            limit.rlim_cur = (rlim_t)bytes;
            signal(SIGXFSZ, SIG_IGN);
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
            limited = true;
        }
        std::filesystem::current_path(small);
    }

    void TearDown() override {
        stop();
        if (limited) setrlimit(RLIMIT_FSIZE, &old_limit);
        std::filesystem::current_path(dir);
        if (mounted) umount2(small.c_str(), MNT_DETACH);
        AppTest::TearDown();
    }
};

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}

TEST_F(FullDiskTest, RecordingStopsCleanlyOnceAndPlaybackGoesOn) {
    constexpr int64_t room = 64 * 1024 - 1; // a tmpfs rounds up to whole pages; a file-size limit cuts mid-sample
    type("QWER");
    limit_disk(room);
    click(app.btn_wav);
    ASSERT_EQ(std::string(app.btn_wav.label), "STOP");
    ASSERT_NE(audio_engine.capture.wav_file, nullptr);

    // Twice the room in sounding blocks; the update after the failure reports it.
    const int blocks = (int)(2 * room / (SND_BLOCK * 2));
    play_blocks(blocks);
    step();
    EXPECT_EQ(audio_engine.capture.wav_file, nullptr);
    EXPECT_EQ(std::string(app.btn_wav.label), "WAV");
    EXPECT_EQ(hl_message_boxes, 1);
    EXPECT_EQ(hl_message_text, "Can not save");
    EXPECT_EQ(hl_message_caption, "ERROR");
    EXPECT_EQ(audio_engine.snd_players[0], &app.song) << "the song plays on";

    std::ifstream f("song.wav", std::ios::binary);
    const std::vector<uint8_t> wav((std::istreambuf_iterator<char>(f)), {});
    ASSERT_GT(wav.size(), 44u + 10u * SND_BLOCK * 2) << "the blocks that fitted were kept";
    EXPECT_LE((int64_t)wav.size(), room + 1);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(le32(wav, 4), wav.size() - 8);
    EXPECT_EQ(le32(wav, 40), wav.size() - 44);
    EXPECT_EQ(wav.size() % 2, 0u) << "whole samples only";

    // Playing on shows no second message; the next press of WAV starts a new capture.
    play_blocks(10);
    step(2);
    EXPECT_EQ(hl_message_boxes, 1);
    click(app.btn_wav);
    EXPECT_EQ(std::string(app.btn_wav.label), "STOP");
    EXPECT_NE(audio_engine.capture.wav_file, nullptr);
    click(app.btn_wav);
    EXPECT_EQ(std::string(app.btn_wav.label), "WAV");
}

} // namespace

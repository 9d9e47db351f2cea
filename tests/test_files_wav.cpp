// WAV capture: the header's sizes, what the mixer appends while a capture runs and what it leaves out, and
// starts and stops out of turn.
#include "log_capture.h"
#include "test_files_fixture.h"

using namespace files_test;

namespace {

uint32_t le32(const bytes& b, size_t at) {
    return (uint32_t)b[at] | (uint32_t)b[at + 1] << 8 | (uint32_t)b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}
uint16_t le16(const bytes& b, size_t at) { return (uint16_t)(b[at] | b[at + 1] << 8); }

class Wav : public InTempDir {
protected:
    snd_song song{};
    std::vector<int16_t> mixed; // every block mixed so far, in order
    void SetUp() override {
        InTempDir::SetUp();
        snd_create_song(&eng, &song, 1);
    }
    void TearDown() override {
        if (eng.capture.wav_file) wav_stop(&eng);
        snd_free_song(&eng, &song);
        snd_reset_voices(&eng, 0);
        InTempDir::TearDown();
    }
    // Renders one block as the audio output does; returns whether the mixer left it silent.
    bool mix() {
        int16_t block[SND_BLOCK];
        EXPECT_EQ(snd_render(&eng, block, SND_BLOCK), SND_BLOCK);
        bool silent = true;
        for (int16_t s : block) silent = silent && s == 0;
        mixed.insert(mixed.end(), block, block + SND_BLOCK);
        return silent;
    }
    std::vector<int16_t> last_blocks(int k) const {
        return std::vector<int16_t>(mixed.end() - k * SND_BLOCK, mixed.end());
    }
    static std::vector<int16_t> samples_of(const bytes& file) {
        std::vector<int16_t> s;
        for (size_t i = 44; i + 1 < file.size(); i += 2) s.push_back((int16_t)le16(file, i));
        return s;
    }
    // A square wave on voice 0 of bank 0 that sounds until stopped (duration 0) or for duration thousand samples.
    void sound_note(int duration) { snd_play_note(&eng, 9, 4, 0, &song.samples[2], duration); }
};

void expect_header(const bytes& file, uint32_t data_size) {
    ASSERT_GE(file.size(), 44u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(le32(file, 4), data_size + 36);
    EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(le32(file, 16), 16u);
    EXPECT_EQ(le16(file, 20), 1);
    EXPECT_EQ(le16(file, 22), 1);
    EXPECT_EQ(le32(file, 24), 22050u);
    EXPECT_EQ(le32(file, 28), 44100u);
    EXPECT_EQ(le16(file, 32), 2);
    EXPECT_EQ(le16(file, 34), 16);
    EXPECT_EQ(std::string(file.begin() + 36, file.begin() + 40), "data");
    EXPECT_EQ(le32(file, 40), data_size);
}

TEST_F(Wav, HeaderCarriesTheSizesForKBlocks) {
    for (int k : {0, 1, 7, 1000}) {
        FILE* f = fopen("h.wav", "wb+");
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(wav_write_header(f, 2204 * k), 1);
        fclose(f);
        const bytes file = read_file("h.wav");
        EXPECT_EQ(file.size(), 44u);
        expect_header(file, 2204u * k);
    }
}

TEST_F(Wav, HeaderRefusesANullFileAndANegativeSize) {
    LogCapture log;
    EXPECT_EQ(wav_write_header(nullptr, 0), 0);
    FILE* f = fopen("h.wav", "wb+");
    EXPECT_EQ(wav_write_header(f, -2), 0);
    fclose(f);
    EXPECT_EQ(read_file("h.wav").size(), 0u);
    EXPECT_EQ(log.asserts(), 2);
}

TEST_F(Wav, CaptureWithNothingSoundingIs44Bytes) {
    wav_start(&eng);
    ASSERT_NE(eng.capture.wav_file, nullptr);
    for (int i = 0; i < 5; i++) EXPECT_TRUE(mix());
    EXPECT_EQ(wav_stop(&eng), 0);
    EXPECT_EQ(eng.capture.wav_file, nullptr);
    const bytes file = read_file("song.wav");
    EXPECT_EQ(file.size(), 44u);
    expect_header(file, 0);
}

TEST_F(Wav, CaptureOfKSoundingBlocksHoldsExactlyThoseSamples) {
    sound_note(0);
    wav_start(&eng);
    const int k = 9;
    for (int i = 0; i < k; i++) ASSERT_FALSE(mix());
    EXPECT_EQ(wav_drain(&eng), k);
    EXPECT_EQ(eng.capture.wav_samples, k * SND_BLOCK);
    wav_stop(&eng);
    const bytes file = read_file("song.wav");
    ASSERT_EQ(file.size(), 44u + 2204u * k);
    expect_header(file, 2204u * k);
    EXPECT_EQ(samples_of(file), last_blocks(k));
}

TEST_F(Wav, ABlockInWhichTheOnlyVoiceStopsIsLeftOut) {
    wav_start(&eng);
    sound_note(1); // 1000 samples: the voice stops inside the first block
    EXPECT_TRUE(mix());
    EXPECT_FALSE(eng.snd_voices[0][0].active);
    wav_stop(&eng);
    EXPECT_EQ(read_file("song.wav").size(), 44u);
}

TEST_F(Wav, SilentBlocksAreLeftOutOfTheCapture) {
    // Note, a rest of 8 blocks (rows 4..7 at 2 blocks a row), a second note, and the song stops itself at row 12.
    snd_pattern* p = song.patterns[0];
    *snd_cell_flags(p, 0, 0) = SND_HAS_NOTE | SND_HAS_SAMPLE;
    *snd_cell_field(p, 0, SND_FIELD_NOTE, 0) = 0x49;
    *snd_cell_field(p, 0, SND_FIELD_SAMPLE, 0) = 2;
    *snd_cell_flags(p, 0, 4) = SND_HAS_EFFECT | SND_HAS_PARAM; // effect 0: note off
    *snd_cell_flags(p, 0, 8) = SND_HAS_NOTE | SND_HAS_SAMPLE;
    *snd_cell_field(p, 0, SND_FIELD_NOTE, 8) = 0x40;
    *snd_cell_field(p, 0, SND_FIELD_SAMPLE, 8) = 0;
    *snd_cell_flags(p, 1, 12) = SND_HAS_EFFECT;
    *snd_cell_field(p, 1, SND_FIELD_EFFECT, 12) = 0x08; // stop the song: every voice falls silent
    wav_start(&eng);
    snd_play_song(&eng, &song);
    std::vector<int16_t> sounding;
    int silent = 0;
    for (int b = 0; b < 40; b++) {
        if (mix()) {
            silent++;
        } else {
            const auto block = last_blocks(1);
            sounding.insert(sounding.end(), block.begin(), block.end());
        }
    }
    wav_stop(&eng);
    EXPECT_EQ(song.state, 0);
    EXPECT_EQ(silent, 2 + 8 + 14); // the two blocks before row 0, the rest, and after the stop
    const bytes file = read_file("song.wav");
    expect_header(file, (uint32_t)sounding.size() * 2);
    EXPECT_EQ(samples_of(file), sounding);
    EXPECT_EQ(sounding.size(), 16u * SND_BLOCK);
}

TEST_F(Wav, MutedChannelsAreNotRecorded) {
    for (int v = 0; v < 4; v++) eng.snd_voices[0][v].enabled = 0;
    sound_note(0);
    wav_start(&eng);
    for (int i = 0; i < 3; i++) EXPECT_TRUE(mix());
    wav_stop(&eng);
    EXPECT_EQ(read_file("song.wav").size(), 44u);
}

TEST_F(Wav, StopWithoutACaptureAssertsAndTouchesNoFile) {
    LogCapture log;
    EXPECT_EQ(wav_stop(&eng), EOF);
    EXPECT_EQ(log.asserts(), 1);
    EXPECT_TRUE(entries().empty());
}

TEST_F(Wav, FailedStartLeavesNoCaptureAndTheMixerAppendsNothing) {
    std::filesystem::create_directory("song.wav"); // "song.wav" cannot be created as a file
    wav_start(&eng);
    EXPECT_EQ(eng.capture.wav_file, nullptr);
    EXPECT_EQ(eng.capture.wav_failed, 1) << "the failed start is reported as a failed capture";
    eng.capture.wav_failed = 0;
    sound_note(0);
    EXPECT_FALSE(mix());
    EXPECT_EQ(eng.capture.wav_samples, 0);
    LogCapture log;
    wav_stop(&eng);
    EXPECT_EQ(log.asserts(), 1);
    EXPECT_TRUE(std::filesystem::is_directory("song.wav"));
}

TEST_F(Wav, ASecondStartReplacesTheEarlierFile) {
    sound_note(0);
    wav_start(&eng);
    for (int i = 0; i < 4; i++) mix();
    wav_stop(&eng);
    ASSERT_EQ(read_file("song.wav").size(), 44u + 4 * 2204);
    wav_start(&eng);
    mix();
    wav_stop(&eng);
    const bytes file = read_file("song.wav");
    ASSERT_EQ(file.size(), 44u + 2204);
    expect_header(file, 2204);
    EXPECT_EQ(samples_of(file), last_blocks(1));
}

TEST_F(Wav, StartWhileCapturingAssertsAndFinishesTheRunningCaptureFirst) {
    sound_note(0);
    wav_start(&eng);
    for (int i = 0; i < 3; i++) mix();
    LogCapture log;
    wav_start(&eng);
    EXPECT_EQ(log.asserts(), 1);
    EXPECT_EQ(eng.capture.wav_samples, 0);
    mix();
    mix();
    EXPECT_EQ(wav_stop(&eng), 0);
    const bytes file = read_file("song.wav");
    ASSERT_EQ(file.size(), 44u + 2 * 2204);
    expect_header(file, 2 * 2204);
    EXPECT_EQ(samples_of(file), last_blocks(2));
}

} // namespace

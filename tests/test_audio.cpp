// Audio output against the manual device: priming, one refill per returned block, the ring's write position, the
// header markers, both degraded states, and a song's samples arriving on the blocks the player's clock names.
#include "audio.h"
#include "headless.h"
#include "log_capture.h"
#include "manual_audio_device.h"
#include "os_tools.h"
#include "sound.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

int32_t headers_in_use() {
    std::lock_guard<std::recursive_mutex> hold(audio_lock);
    int32_t n = 0;
    for (const audio_header& h : audio_headers)
        if (h.user) n++;
    return n;
}

int32_t locked_write_pos() {
    std::lock_guard<std::recursive_mutex> hold(audio_lock);
    return audio_write_pos;
}

int32_t locked_blocks() {
    std::lock_guard<std::recursive_mutex> hold(audio_lock);
    return audio_engine.audio_blocks;
}

// Hands the oldest block back and waits until the audio thread has queued its replacement. The thread queues
// under audio_lock, so once the lock is ours again the whole refill (tick, fill, count, release) is done.
void return_and_wait() {
    const int64_t before = manual_audio_total_queued();
    ASSERT_TRUE(manual_audio_return_one());
    ASSERT_TRUE(manual_audio_wait_total(before + 1));
    std::lock_guard<std::recursive_mutex> hold(audio_lock);
}

bool fails_to_start() { return false; }

class AudioTest : public ::testing::Test {
protected:
    void SetUp() override {
        manual_audio_reset_state();
        saved_start = audio_start_thread;
        log.clear();
    }
    void TearDown() override {
        if (audio_device || audio_thread_running()) deinit_sounds();
        audio_start_thread = saved_start;
        manual_audio_reset_state();
        EXPECT_EQ(os_alloc_count, 0);
    }
    bool (*saved_start)() = nullptr;
    LogCapture log;
};

TEST_F(AudioTest, StartPrimesFourSilentBlocksOnHeadersZeroToThree) {
    init_sounds();
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"init sounds\n", "AUDIO == TEST_AUDIO\n"}));
    EXPECT_TRUE(audio_thread_running());
    EXPECT_TRUE(manual_audio_is_open());
    EXPECT_EQ(manual_audio_queue_indices(), (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(manual_audio_queue_offsets(), (std::vector<int32_t>{0, 1102, 2204, 3306}));
    EXPECT_EQ(manual_audio_max_in_use(), 4);
    EXPECT_EQ(locked_write_pos(), 4408);
    EXPECT_EQ(locked_blocks(), 0);
    EXPECT_EQ(headers_in_use(), 4);
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        EXPECT_EQ(audio_engine.sound_amplitude, 32767);
        for (int32_t i = 0; i < 4; i++) {
            EXPECT_EQ(audio_headers[i].length, 2204);
            EXPECT_EQ(audio_headers[i].data, &audio_ring[i * SND_BLOCK]);
        }
        for (int32_t slot = 0; slot < 2; slot++) {
            EXPECT_EQ(audio_engine.snd_players[slot], nullptr);
            for (int32_t v = 0; v < SND_VOICES; v++) {
                EXPECT_EQ(audio_engine.snd_voices[slot][v].enabled, v < 4 ? 1 : 0) << slot << " " << v;
                EXPECT_EQ(audio_engine.snd_voices[slot][v].active, 0);
                EXPECT_EQ(audio_engine.snd_voices[slot][v].channel_pattern, -1);
            }
        }
        for (int32_t i = 0; i < 4 * SND_BLOCK; i++) ASSERT_EQ(audio_ring[i], 0) << i;
    }

    deinit_sounds();
    EXPECT_EQ(log.count("deinit sounds\n"), 1);
    EXPECT_EQ(log.asserts(), 0);
    EXPECT_FALSE(audio_thread_running());
    EXPECT_EQ(manual_audio_resets(), 1);
    EXPECT_EQ(manual_audio_closes(), 1);
    EXPECT_FALSE(manual_audio_is_open());
    EXPECT_EQ(audio_device, nullptr);
}

TEST_F(AudioTest, EachReturnedBlockBringsExactlyOneNewBlockAndOneTick) {
    init_sounds();
    // The returned header is still in use while its replacement is filled: header 0 comes back, the new block
    // goes onto header 4, and header 0 carries the block after that.
    return_and_wait();
    EXPECT_EQ(manual_audio_queue_indices(), (std::vector<int32_t>{1, 2, 3, 4}));
    return_and_wait();
    EXPECT_EQ(manual_audio_queue_indices(), (std::vector<int32_t>{2, 3, 4, 0}));

    std::vector<int32_t> new_offsets;
    for (int32_t k = 2; k < 25; k++) {
        return_and_wait();
        EXPECT_EQ(locked_blocks(), k + 1);
        EXPECT_EQ(manual_audio_queued(), 4);
        EXPECT_EQ(manual_audio_total_queued(), 4 + k + 1);
        EXPECT_EQ(headers_in_use(), 4);
        new_offsets.push_back(manual_audio_queue_offsets().back());
        EXPECT_EQ(locked_write_pos(), (4 + k + 1) % 10 * SND_BLOCK);
    }
    // The newest block walks the ring 0, 1102, ..., 9918 and wraps to 0.
    for (size_t i = 0; i < new_offsets.size(); i++) EXPECT_EQ(new_offsets[i], (int32_t)((6 + i) % 10) * SND_BLOCK);
    EXPECT_EQ(manual_audio_max_in_use(), 5);
    EXPECT_EQ(log.asserts(), 0);
}

TEST_F(AudioTest, EmptyPlayersStillGetEveryBlockRefilledWithSilence) {
    manual_audio_record = true;
    init_sounds();
    for (int32_t k = 0; k < 12; k++) return_and_wait();
    const std::vector<int16_t> samples = manual_audio_recorded();
    ASSERT_EQ(samples.size(), (size_t)(16 * SND_BLOCK));
    for (size_t i = 0; i < samples.size(); i++) ASSERT_EQ(samples[i], 0) << i;
}

TEST_F(AudioTest, FillQueuesOnlyIntoFreeHeaders) {
    init_sounds();
    std::lock_guard<std::recursive_mutex> hold(audio_lock);
    bool marked[AUDIO_HEADERS] = {};
    for (int32_t i = 0; i < AUDIO_HEADERS; i++)
        if (!audio_headers[i].user) marked[i] = true, audio_headers[i].user = 1;

    const int64_t before = manual_audio_total_queued();
    audio_fill(1);
    EXPECT_EQ(manual_audio_total_queued(), before);
    EXPECT_EQ(audio_write_pos, 4408);
    EXPECT_EQ(log.asserts(), 0);

    // One free header: a fill of three queues one block, without a report.
    audio_headers[7].user = 0;
    audio_fill(3);
    EXPECT_EQ(manual_audio_total_queued(), before + 1);
    EXPECT_EQ(manual_audio_queue_indices().back(), 7);
    EXPECT_EQ(audio_write_pos, 5510);
    EXPECT_EQ(log.asserts(), 0);

    // Fewer than one block asked for is reported and queues nothing.
    audio_headers[8].user = 0;
    audio_fill(0);
    EXPECT_EQ(log.asserts(), 1);
    EXPECT_EQ(manual_audio_total_queued(), before + 1);
    EXPECT_EQ(audio_headers[8].user, 0u);
    for (int32_t i = 0; i < AUDIO_HEADERS; i++)
        if (marked[i] && i != 7) audio_headers[i].user = 0;
}

TEST_F(AudioTest, WithoutThreadNothingOpensAndDeinitReturnsAtOnce) {
    audio_start_thread = fails_to_start;
    init_sounds();
    EXPECT_EQ(log.asserts(), 1);
    EXPECT_EQ(log.count("AUDIO == TEST_AUDIO\n"), 1);
    EXPECT_FALSE(audio_thread_running());
    EXPECT_FALSE(manual_audio_is_open());
    EXPECT_EQ(manual_audio_total_queued(), 0);
    EXPECT_EQ(audio_device, nullptr);
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        EXPECT_EQ(audio_engine.snd_voices[0][0].enabled, 1); // the rest of start-up still ran
    }

    deinit_sounds();
    EXPECT_EQ(log.asserts(), 1);
    EXPECT_EQ(manual_audio_resets(), 0);
    EXPECT_EQ(manual_audio_closes(), 0);

    // A later start is not confused by the quit nobody took.
    audio_start_thread = saved_start;
    log.clear();
    init_sounds();
    EXPECT_EQ(log.asserts(), 0);
    return_and_wait();
    EXPECT_EQ(locked_blocks(), 1);
    deinit_sounds();
    EXPECT_EQ(log.asserts(), 0);
}

// Without a device nothing waits: the thread ends at once, the clock keeps the song's time (a quarter second at
// most at a time), and an open that finds a device later takes over from the clock.
TEST_F(AudioTest, WithoutDeviceTheClockKeepsTimeUntilAnOpenFindsOne) {
    manual_audio_absent = true;
    hl_set_time_ms(1000);
    init_sounds();
    EXPECT_EQ(log.asserts(), 0);
    EXPECT_EQ(log.count("AUDIO NO DEVICE\n"), 1);
    EXPECT_EQ(audio_device, nullptr);
    EXPECT_FALSE(audio_thread_running());
    EXPECT_EQ(manual_audio_total_queued(), 0);
    EXPECT_EQ(headers_in_use(), 0);

    // 22050 samples a second, counted exactly over uneven calls; a long pause is not caught up.
    const struct {
        int64_t ms;     // clock advance before the call
        int32_t blocks; // blocks begun since the start
    } calls[] = {{0, 0}, {1, 1}, {249, 6}, {12, 6}, {238, 11}, {1000, 16}, {10000, 21}};
    for (const auto& c : calls) {
        hl_advance_ms(c.ms);
        audio_keep_time();
        EXPECT_EQ(locked_blocks(), c.blocks) << c.ms;
    }
    EXPECT_FALSE(audio_open());
    EXPECT_EQ(log.count("AUDIO NO DEVICE\n"), 2);

    manual_audio_absent = false;
    EXPECT_TRUE(audio_open());
    EXPECT_TRUE(audio_thread_running());
    EXPECT_EQ(manual_audio_queue_indices(), (std::vector<int32_t>{0, 1, 2, 3}));
    hl_advance_ms(1000);
    audio_keep_time();
    EXPECT_EQ(locked_blocks(), 21);
    return_and_wait();
    EXPECT_EQ(locked_blocks(), 22);
    deinit_sounds();
    EXPECT_FALSE(audio_thread_running());
    EXPECT_EQ(manual_audio_closes(), 1);
    EXPECT_EQ(log.asserts(), 0);
}

TEST_F(AudioTest, ShutDownReturnsQueuedBlocksThenClosesAndRestartsClean) {
    init_sounds();
    for (int32_t k = 0; k < 7; k++) return_and_wait();
    deinit_sounds();
    EXPECT_EQ(manual_audio_queued(), 0);
    EXPECT_EQ(manual_audio_resets(), 1);
    EXPECT_EQ(manual_audio_closes(), 1);

    init_sounds();
    EXPECT_EQ(manual_audio_queue_indices(), (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(locked_write_pos(), 4408);
    EXPECT_EQ(locked_blocks(), 0);
    deinit_sounds();
    EXPECT_EQ(log.asserts(), 0);
}

TEST_F(AudioTest, SecondOpenIsReportedAndKeepsTheRunningDevice) {
    init_sounds();
    return_and_wait();
    audio_open();
    EXPECT_EQ(log.asserts(), 1);
    EXPECT_EQ(manual_audio_queued(), 4);
    EXPECT_EQ(locked_blocks(), 1);
    return_and_wait();
    EXPECT_EQ(locked_blocks(), 2);
}

TEST_F(AudioTest, DeinitReportsSampleDataStillAlive) {
    init_sounds();
    snd_song song;
    snd_create_song(&audio_engine, &song, 1);
    deinit_sounds();
    EXPECT_EQ(log.asserts(), 1);
    snd_free_song(&audio_engine, &song);
}

// One C-4 on the 50% square in row 0 of channel 0, the song stopped by effect 8 in row 4.
snd_song one_note_song() {
    snd_song song;
    snd_create_song(&audio_engine, &song, 1);
    snd_pattern* p = song.patterns[0];
    *snd_cell_field(p, 0, SND_FIELD_NOTE, 0) = 0x40;
    *snd_cell_field(p, 0, SND_FIELD_SAMPLE, 0) = 2;
    *snd_cell_flags(p, 0, 0) = SND_HAS_NOTE | SND_HAS_SAMPLE;
    *snd_cell_field(p, 1, SND_FIELD_EFFECT, 4) = 8;
    *snd_cell_flags(p, 1, 4) = SND_HAS_EFFECT;
    return song;
}

// What an engine of its own renders for the song without any device, the clock starting at `start`, playback
// started at `start`.
std::vector<int16_t> offline_mix(snd_song* song, int32_t start, int32_t blocks) {
    snd_engine e;
    snd_init_engine(&e);
    e.audio_blocks = start;
    snd_play_song(&e, song);
    std::vector<int16_t> out((size_t)blocks * SND_BLOCK);
    EXPECT_EQ(snd_render(&e, out.data(), (int32_t)out.size()), (int32_t)out.size());
    if (e.snd_players[0]) snd_stop_song(&e, e.snd_players[0]);
    return out;
}

TEST_F(AudioTest, SongRowsSoundOnTheBlocksThePlayerClockNames) {
    audio_engine.sound_amplitude = 32767;
    snd_song reference = one_note_song();
    const std::vector<int16_t> expected = offline_mix(&reference, 3, 16);
    snd_free_song(&audio_engine, &reference);
    // Started at clock 3, row 0 is played by the tick that sees clock 5: the third block after the start.
    for (int32_t i = 0; i < 2 * SND_BLOCK; i++) ASSERT_EQ(expected[i], 0) << i;
    ASSERT_NE(expected[2 * SND_BLOCK], 0);
    // Row 4 (effect 8) is played at clock 13 and silences the rest.
    for (size_t i = 10 * SND_BLOCK; i < expected.size(); i++) ASSERT_EQ(expected[i], 0) << i;

    snd_song song = one_note_song();
    manual_audio_record = true;
    init_sounds();
    for (int32_t k = 0; k < 3; k++) return_and_wait();
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        ASSERT_EQ(audio_engine.audio_blocks, 3);
        snd_play_song(&audio_engine, &song);
    }
    for (int32_t k = 0; k < 16; k++) return_and_wait();
    // 4 priming blocks and 3 refills before the start, then the 16 blocks mixed after it.
    const std::vector<int16_t> recorded = manual_audio_recorded();
    ASSERT_EQ(recorded.size(), (size_t)(23 * SND_BLOCK));
    const std::vector<int16_t> played(recorded.begin() + 7 * SND_BLOCK, recorded.end());
    ASSERT_EQ(played.size(), expected.size());
    for (size_t i = 0; i < expected.size(); i++) ASSERT_EQ(played[i], expected[i]) << "sample " << i;
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        EXPECT_EQ(song.state, 0);
        EXPECT_EQ(audio_engine.snd_players[0], nullptr);
    }
    snd_free_song(&audio_engine, &song);
    deinit_sounds();
    EXPECT_EQ(log.asserts(), 0);
}

// Taking its samples as it plays (SDL's callback, 512 samples a period), a device gets them mixed at that moment, so
// a note typed between two periods sounds from the first sample of the next one instead of waiting for the next
// block: at most one period (23 ms) after its step. Every block is still mixed after one player tick, so a song
// gives the same samples on the same clock as when the device is fed block for block.
TEST_F(AudioTest, TakenAsItPlaysTheSongIsExactAndAPreviewSoundsFromTheNextPeriod) {
    audio_engine.sound_amplitude = 32767;
    snd_song reference = one_note_song();
    const std::vector<int16_t> expected = offline_mix(&reference, 3, 16);
    snd_free_song(&audio_engine, &reference);
    manual_audio_pull = true;
    manual_audio_record = true;
    const auto locked = [](auto read) {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        return read();
    };
    snd_song song = one_note_song();
    init_sounds();
    EXPECT_EQ(manual_audio_total_samples(), 0); // nothing primed
    // Periods of uneven length, as a device may ask: three blocks begun (three ticks), the third partly taken.
    const int32_t periods[] = {512, 300, 1, 1102, 777};
    int32_t k = 0;
    while (locked([] { return audio_engine.audio_blocks; }) < 3) ASSERT_TRUE(manual_audio_take(periods[k++ % 5]));
    ASSERT_NE(locked([] { return (audio_engine.block_done % SND_BLOCK); }), 0);
    locked([&song] {
        snd_play_song(&audio_engine, &song); // the song starts at clock 3
        return 0;
    });
    while (manual_audio_total_samples() < 19 * SND_BLOCK) ASSERT_TRUE(manual_audio_take(periods[k++ % 5]));
    std::vector<int16_t> recorded = manual_audio_recorded();
    ASSERT_TRUE(std::vector<int16_t>(recorded.begin() + 3 * SND_BLOCK, recorded.begin() + 19 * SND_BLOCK) == expected);

    // The song has ended; nothing sounds. A note typed in the middle of a (so far silent) block:
    while (locked([] { return (audio_engine.block_done % SND_BLOCK); }) == 0) ASSERT_TRUE(manual_audio_take(512));
    const int64_t typed_at = manual_audio_total_samples();
    locked([&song] {
        snd_set_effect(&audio_engine, 2, 0, 0);
        snd_play_note(&audio_engine, 9, 4, 2, &song.samples[2], 10);
        return 0;
    });
    ASSERT_TRUE(manual_audio_take(512));
    recorded = manual_audio_recorded();
    ASSERT_EQ(recorded.size(), (size_t)typed_at + 512);
    for (int64_t i = typed_at - SND_BLOCK; i < typed_at; i++) ASSERT_EQ(recorded[(size_t)i], 0) << i;
    EXPECT_EQ(std::abs(recorded[(size_t)typed_at]), 4095);

    // A period that finds the lock held waits for it instead of going silent, however long the main thread keeps
    // it (here far longer than the 10 ms after which it used to give up), and the note goes on in it.
    const int32_t done_before = locked([] { return audio_engine.block_done; });
    {
        std::unique_lock<std::recursive_mutex> hold(audio_lock);
        std::thread device([] { EXPECT_TRUE(manual_audio_take(512)); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(audio_engine.block_done, done_before);
        hold.unlock();
        device.join();
    }
    EXPECT_EQ(locked([] { return audio_engine.block_done; }), (done_before + 512) % SND_BLOCK);
    recorded = manual_audio_recorded();
    for (size_t i = recorded.size() - 512; i < recorded.size(); i++) ASSERT_EQ(std::abs(recorded[i]), 4095) << i;
    snd_free_song(&audio_engine, &song);
    deinit_sounds();
    EXPECT_EQ(log.asserts(), 0);
}

TEST_F(AudioTest, PreviewNoteSoundsWithoutASongAndMuteSilencesIt) {
    manual_audio_record = true;
    snd_song song;
    snd_create_song(&audio_engine, &song, 1);
    init_sounds();
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        snd_set_effect(&audio_engine, 2, 0, 0);
        snd_play_note(&audio_engine, 9, 4, 2, &song.samples[2], 10);
    }
    for (int32_t k = 0; k < 3; k++) return_and_wait();
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        audio_engine.snd_voices[0][2].enabled = 0;
    }
    for (int32_t k = 0; k < 3; k++) return_and_wait();
    const std::vector<int16_t> recorded = manual_audio_recorded();
    ASSERT_EQ(recorded.size(), (size_t)(10 * SND_BLOCK));
    // Priming blocks were mixed before the note: fed block for block, the device holds four blocks (200 ms) in
    // front of it. The three after them sound at +-4095 from their first sample; the muted ones are silent.
    for (size_t i = 0; i < 4 * SND_BLOCK; i++) ASSERT_EQ(recorded[i], 0) << i;
    EXPECT_EQ(std::abs(recorded[4 * SND_BLOCK]), 4095);
    int32_t loud = 0;
    for (size_t i = 4 * SND_BLOCK; i < 7 * SND_BLOCK; i++) loud += recorded[i] == 4095 || recorded[i] == -4095;
    EXPECT_GT(loud, 3 * SND_BLOCK / 2);
    for (size_t i = 7 * SND_BLOCK; i < recorded.size(); i++) ASSERT_EQ(recorded[i], 0) << i;
    snd_free_song(&audio_engine, &song);
    deinit_sounds();
    EXPECT_EQ(log.asserts(), 0);
}

} // namespace

// Audio thread stress: the manual device hands every block back as soon as it is queued (or, as a device that
// takes its samples as it plays, a thread of its own takes period after period), so the sound is mixed as fast as
// it can be, while this thread edits, replaces, plays, stops, previews and mutes the song holding audio_lock the way
// the application's steps do. And the WAV capture's writer stalled on a slow disk while the device takes its
// periods. Run under ThreadSanitizer (label "tsan") and ASan.
#include "audio.h"
#include "log_capture.h"
#include "manual_audio_device.h"
#include "os_tools.h"
#include "sound.h"
#include "wav_samples.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <vector>
#include <random>
#include <thread>

namespace {

enum {
    OP_ADD_PATTERN,
    OP_DELETE_PATTERN,
    OP_INSERT_ORDER,
    OP_DELETE_ORDER,
    OP_REPLACE_SONG,
    OP_PLAY_SONG,
    OP_PLAY_PATTERN,
    OP_STOP,
    OP_PREVIEW,
    OP_MUTE,
    OP_EDIT_CELL,
    OP_COUNT
};

// A cell the editor could have typed: valid note and sample, volume 0..15, any effect and parameter.
void random_cell(snd_song* song, std::mt19937& rng) {
    if (song->pattern_count == 0) return;
    snd_pattern* p = song->patterns[rng() % song->pattern_count];
    const int32_t c = (int32_t)(rng() % SND_CHANNELS);
    const int32_t row = (int32_t)(rng() % SND_ROWS);
    uint8_t flags = 0;
    if (rng() % 2) {
        *snd_cell_field(p, c, SND_FIELD_NOTE, row) = (uint8_t)((rng() % 10) << 4 | rng() % 12);
        flags |= SND_HAS_NOTE;
    }
    if (rng() % 2) {
        *snd_cell_field(p, c, SND_FIELD_SAMPLE, row) = (uint8_t)(rng() % SND_SAMPLES);
        flags |= SND_HAS_SAMPLE;
    }
    if (rng() % 4 == 0) {
        *snd_cell_field(p, c, SND_FIELD_VOLUME, row) = (uint8_t)(rng() % 16);
        flags |= SND_HAS_VOLUME;
    }
    if (rng() % 3 == 0) {
        // Stops (8) are rare, so the song mostly keeps playing.
        uint8_t effect = (uint8_t)(rng() % 16);
        if (effect == 8 && rng() % 8) effect = 3;
        *snd_cell_field(p, c, SND_FIELD_EFFECT, row) = (uint8_t)((rng() % 3) << 4 | effect);
        *snd_cell_field(p, c, SND_FIELD_PARAM, row) = (uint8_t)rng();
        flags |= SND_HAS_EFFECT | SND_HAS_PARAM;
    }
    if (flags & SND_HAS_NOTE) flags |= SND_HAS_SAMPLE;
    *snd_cell_flags(p, c, row) = flags;
}

void fill_song(snd_song* song, std::mt19937& rng) {
    for (int32_t i = 0; i < 300; i++) random_cell(song, rng);
    for (int32_t i = 0; i < song->order_len; i++) song->order[i] = (uint8_t)(rng() % song->pattern_count);
}

// Keeps the editor's view of the song valid after its tables have changed, as the editor does.
void clamp_positions(snd_song* song) {
    if (song->pattern >= song->pattern_count) song->pattern = song->pattern_count - 1;
    if (song->order_pos >= song->order_len) song->order_pos = song->order_len - 1;
}

void run_op(int32_t op, snd_song* song, std::mt19937& rng) {
    switch (op) {
    case OP_ADD_PATTERN:
        if (song->pattern_count < 24) snd_add_pattern(song);
        break;
    case OP_DELETE_PATTERN:
        if (song->pattern_count >= 2) snd_delete_pattern(song, (int32_t)(rng() % song->pattern_count));
        break;
    case OP_INSERT_ORDER:
        if (song->order_len < 64) snd_insert_order(song, (int32_t)(rng() % (song->order_len + 1)));
        break;
    case OP_DELETE_ORDER:
        if (song->order_len >= 2) snd_delete_order(song, (int32_t)(rng() % song->order_len));
        break;
    case OP_REPLACE_SONG:
        snd_free_song(&audio_engine, song);
        snd_create_song(&audio_engine, song, (uint8_t)(1 + rng() % 3));
        fill_song(song, rng);
        break;
    case OP_PLAY_SONG:
        song->order_pos = (int32_t)(rng() % song->order_len);
        snd_play_song(&audio_engine, song);
        break;
    case OP_PLAY_PATTERN:
        // The application starts pattern play only while the song is stopped.
        if (song->state == 0) {
            song->pattern = (int32_t)(rng() % song->pattern_count);
            snd_play_pattern(&audio_engine, song);
        }
        break;
    case OP_STOP:
        if (song->state != 0) snd_stop_song(&audio_engine, song);
        break;
    case OP_PREVIEW: {
        const int32_t voice = (int32_t)(rng() % SND_CHANNELS);
        snd_set_effect(&audio_engine, voice, 0, 0);
        snd_play_note(&audio_engine, (int32_t)(rng() % 12), (int32_t)(rng() % 10), voice,
                      &song->samples[rng() % SND_SAMPLES], 10);
        snd_set_effect(&audio_engine, voice, (uint8_t)rng(), (uint8_t)(rng() % 16));
        break;
    }
    case OP_MUTE: {
        snd_voice* v = &audio_engine.snd_voices[0][rng() % SND_CHANNELS];
        v->enabled = v->enabled ? 0 : 1;
        break;
    }
    case OP_EDIT_CELL:
        random_cell(song, rng);
        break;
    }
    clamp_positions(song);
}

class AudioStress : public testing::TestWithParam<bool> {};

TEST_P(AudioStress, EditsAndPlaybackWhileTheThreadRefillsAsFastAsItCan) {
    using clock = std::chrono::steady_clock;
    const bool pull = GetParam();
    manual_audio_reset_state();
    manual_audio_auto_return = true;
    manual_audio_pull = pull;
    LogCapture log;
    std::mt19937 rng(20240611);

    init_sounds();
    // A device that takes its samples as it plays takes period after period on a thread of its own.
    std::atomic<bool> asking{pull};
    std::thread device([&asking] {
        while (asking.load()) manual_audio_take(512);
    });
    snd_song song;
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        snd_create_song(&audio_engine, &song, 2);
        fill_song(&song, rng);
        snd_play_song(&audio_engine, &song);
    }

    int32_t done[OP_COUNT] = {};
    int32_t start_blocks = 0;
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        start_blocks = audio_engine.audio_blocks;
    }
    int32_t blocks = 0;
    const auto start = clock::now();
    // About three seconds, but never finished before every kind of edit has raced a good number of refills.
    for (;;) {
        const auto elapsed = clock::now() - start;
        bool all_done = blocks >= 500;
        for (int32_t op = 0; op < OP_COUNT; op++) all_done = all_done && done[op] >= 20;
        if ((all_done && elapsed >= std::chrono::seconds(3)) || elapsed >= std::chrono::seconds(60)) break;
        {
            std::lock_guard<std::recursive_mutex> hold(audio_lock);
            const int32_t op = (int32_t)(rng() % OP_COUNT);
            run_op(op, &song, rng);
            done[op]++;
            blocks = audio_engine.audio_blocks - start_blocks;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }

    asking.store(false);
    device.join();
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        snd_free_song(&audio_engine, &song);
    }
    deinit_sounds();

    int32_t edits = 0;
    for (int32_t op = 0; op < OP_COUNT; op++) edits += done[op];
    printf("stress (%s): %d blocks mixed, %lld blocks or periods sounding, %d edits\n",
           pull ? "taken as played" : "fed blocks", blocks, (long long)manual_audio_sounding(), edits);
    for (int32_t op = 0; op < OP_COUNT; op++) EXPECT_GE(done[op], 20) << "edit kind " << op;
    EXPECT_GE(blocks, 500);
    EXPECT_GE(manual_audio_sounding(), 100);
    EXPECT_LE(manual_audio_max_in_use(), 5);
    EXPECT_EQ(log.asserts(), 0);
    EXPECT_EQ(os_alloc_count, 0);
    EXPECT_EQ(audio_engine.snd_live_samples, 0);
    EXPECT_FALSE(audio_thread_running());
    manual_audio_reset_state();
}

INSTANTIATE_TEST_SUITE_P(Devices, AudioStress, testing::Bool(), [](const testing::TestParamInfo<bool>& info) {
    return info.param ? "TakenAsPlayed" : "FedBlocks";
});

// ---- The capture's writer on a disk that stalls

std::mutex stall_mutex;             // guards the stall's state below
std::condition_variable stall_wake; // the stall may end, or a write has begun stalling
bool stall_armed;                   // the next write stalls
bool stalling;                      // a write is stalled now
bool stall_released;                // the test lets the stalled write go on

// The capture's file write on a disk that stalls: the first write after arming hangs for at least 2 s, and until the
// test lets it go on.
size_t stalling_write(const void* data, size_t size, size_t count, FILE* file) {
    std::unique_lock<std::mutex> hold(stall_mutex);
    if (stall_armed) {
        stall_armed = false;
        stalling = true;
        stall_wake.notify_all();
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        stall_wake.wait_until(hold, until, [] { return false; });
        stall_wake.wait_for(hold, std::chrono::seconds(30), [] { return stall_released; });
        stalling = false;
    }
    hold.unlock();
    return fwrite(data, size, count, file);
}

// The device takes period after period while the writer hangs in a write: no period waits for it or goes silent.
// Below the queue's length the finished "song.wav" holds every block that sounded; beyond it the capture ends as on
// a full disk, with the blocks queued before the overflow in a finished file, and "Can not save" to come.
TEST(CaptureWriter, AStalledWriteNeverHoldsUpTheDeviceAndLosesNothingUpToTheQueuesLength) {
    const struct {
        double seconds; // audio the device takes while the writer is stalled
        bool overflows; // more than the queue holds
    } cases[] = {{2.5, false}, {14.0, true}};
    const std::string path = "song.wav";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        manual_audio_reset_state();
        manual_audio_pull = true;
        manual_audio_record = true;
        LogCapture log;
        init_sounds();
        snd_song song;
        {
            std::lock_guard<std::recursive_mutex> hold(audio_lock);
            snd_create_song(&audio_engine, &song, 1);
            // A square wave that sounds from row 0 on, until the end.
            *snd_cell_field(song.patterns[0], 0, SND_FIELD_NOTE, 0) = 0x40;
            *snd_cell_field(song.patterns[0], 0, SND_FIELD_SAMPLE, 0) = 2;
            *snd_cell_flags(song.patterns[0], 0, 0) = SND_HAS_NOTE | SND_HAS_SAMPLE;
            audio_engine.capture.write = stalling_write;
            stall_armed = true;
            stalling = stall_released = false;
            wav_start(&audio_engine);
            snd_play_song(&audio_engine, &song);
        }
        ASSERT_NE(audio_engine.capture.wav_file, nullptr);
        // The main loop's writer, every few milliseconds.
        std::atomic<bool> writing{true};
        std::thread writer([&writing] {
            while (writing.load()) {
                wav_drain(&audio_engine);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        // The device's periods until the first block that sounded is queued; the writer hangs in writing it. Then
        // as many periods as the case asks for, every one mixed, none silenced by a busy sound system.
        bool all_mixed = true;
        for (int32_t periods = 0; audio_engine.capture.queued.load() == 0; periods++) {
            ASSERT_LT(periods, 1000) << "nothing sounded";
            all_mixed = manual_audio_take(256) && all_mixed;
        }
        {
            std::unique_lock<std::mutex> hold(stall_mutex);
            ASSERT_TRUE(stall_wake.wait_for(hold, std::chrono::seconds(30), [] { return stalling; }));
        }
        const int32_t during = (int32_t)(c.seconds * SND_RATE / 256);
        for (int32_t i = 0; i < during; i++) all_mixed = manual_audio_take(256) && all_mixed;
        bool still_stalled;
        {
            std::lock_guard<std::mutex> hold(stall_mutex);
            still_stalled = stalling;
            stall_released = true;
            stall_wake.notify_all();
        }
        EXPECT_TRUE(still_stalled) << "the device waited for the writer";
        EXPECT_TRUE(all_mixed);
        // The writer catches up (it ends a capture that overflowed in the same pass), then the capture stops as the
        // WAV button stops it.
        for (int i = 0; i < 2000 && audio_engine.capture.written.load() != audio_engine.capture.queued.load(); i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        writing.store(false);
        writer.join();
        const bool failed = audio_engine.capture.wav_failed != 0;
        {
            std::lock_guard<std::recursive_mutex> hold(audio_lock);
            wav_end_taking(&audio_engine);
        }
        wav_stop(&audio_engine);
        {
            std::lock_guard<std::recursive_mutex> hold(audio_lock);
            audio_engine.capture.write = fwrite;
            snd_free_song(&audio_engine, &song);
        }
        deinit_sounds();

        // The blocks that sounded, in the order the device took them.
        const std::vector<int16_t> taken = manual_audio_recorded();
        std::vector<int16_t> sounded;
        for (size_t b = 0; (b + 1) * SND_BLOCK <= taken.size(); b++) {
            const auto block = taken.begin() + (long)(b * SND_BLOCK);
            if (std::any_of(block, block + SND_BLOCK, [](int16_t v) { return v != 0; }))
                sounded.insert(sounded.end(), block, block + SND_BLOCK);
        }
        const std::vector<int16_t> file = test_wav_samples(path);
        EXPECT_EQ(failed, c.overflows);
        if (c.overflows) {
            ASSERT_EQ(file.size(), (size_t)WAV_QUEUE_BLOCKS * SND_BLOCK);
            EXPECT_TRUE(std::equal(file.begin(), file.end(), sounded.begin()));
        } else {
            EXPECT_GT(sounded.size(), (size_t)(c.seconds * SND_RATE) - 3 * SND_BLOCK);
            EXPECT_TRUE(file == sounded) << file.size() << " samples in the file, " << sounded.size() << " sounded";
        }
        EXPECT_EQ(std::filesystem::file_size(path), 44 + 2 * file.size()) << "the header counts what the file holds";
        EXPECT_EQ(log.asserts(), 0);
        EXPECT_EQ(os_alloc_count, 0);
        std::filesystem::remove(path);
    }
    manual_audio_reset_state();
}

} // namespace

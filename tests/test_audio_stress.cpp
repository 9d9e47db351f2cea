// Audio thread stress: the manual device hands every block back as soon as it is queued (or, as a device that
// takes its samples as it plays, a thread of its own takes period after period), so the sound is mixed as fast as
// it can be, while this thread edits, replaces, plays, stops, previews and mutes the song holding audio_lock the way
// the application's steps do. Run under ThreadSanitizer (label "tsan") and ASan.
#include "audio.h"
#include "log_capture.h"
#include "manual_audio_device.h"
#include "os_tools.h"
#include "sound.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <atomic>
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
        snd_free_song(song);
        snd_create_song(song, (uint8_t)(1 + rng() % 3));
        fill_song(song, rng);
        break;
    case OP_PLAY_SONG:
        song->order_pos = (int32_t)(rng() % song->order_len);
        snd_play_song(song);
        break;
    case OP_PLAY_PATTERN:
        // The application starts pattern play only while the song is stopped.
        if (song->state == 0) {
            song->pattern = (int32_t)(rng() % song->pattern_count);
            snd_play_pattern(song);
        }
        break;
    case OP_STOP:
        if (song->state != 0) snd_stop_song(song);
        break;
    case OP_PREVIEW: {
        const int32_t voice = (int32_t)(rng() % SND_CHANNELS);
        snd_set_effect(voice, 0, 0);
        snd_play_note((int32_t)(rng() % 12), (int32_t)(rng() % 10), voice, &song->samples[rng() % SND_SAMPLES], 10);
        snd_set_effect(voice, (uint8_t)rng(), (uint8_t)(rng() % 16));
        break;
    }
    case OP_MUTE: {
        snd_voice* v = &snd_voices[0][rng() % SND_CHANNELS];
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
        snd_create_song(&song, 2);
        fill_song(&song, rng);
        snd_play_song(&song);
    }

    int32_t done[OP_COUNT] = {};
    int32_t start_blocks = 0;
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        start_blocks = audio_blocks;
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
            blocks = audio_blocks - start_blocks;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }

    asking.store(false);
    device.join();
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        snd_free_song(&song);
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
    EXPECT_EQ(snd_live_samples, 0);
    EXPECT_FALSE(audio_thread_running());
    manual_audio_reset_state();
}

INSTANTIATE_TEST_SUITE_P(Devices, AudioStress, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "TakenAsPlayed" : "FedBlocks";
                         });

} // namespace

// The song player on small songs, clocked by a simulated block counter.
#include "log_capture.h"
#include "os_tools.h"
#include "sound.h"

#include <gtest/gtest.h>

#include <vector>

static snd_engine eng; // the engine the cases play with

namespace {

class Player : public ::testing::Test {
protected:
    snd_song song{};
    int played_rows = 0;

    void SetUp() override {
        eng.sound_amplitude = 32767;
        eng.snd_slot = 0;
        eng.audio_blocks = 0;
        snd_ready_players(&eng);
        snd_create_song(&eng, &song, 4);
    }
    void TearDown() override {
        snd_free_song(&eng, &song);
        eng.snd_players[0] = eng.snd_players[1] = nullptr;
    }
    snd_voice& voice(int c) { return eng.snd_voices[0][c]; }
    void set_order(std::vector<int> entries) {
        while (song.order_len < (int)entries.size()) snd_insert_order(&song, song.order_len);
        while (song.order_len > (int)entries.size()) snd_delete_order(&song, song.order_len - 1);
        for (size_t i = 0; i < entries.size(); i++) song.order[i] = (uint8_t)entries[i];
    }
    void note(int pattern, int channel, int row, int semitone, int octave, int sample = 2) {
        snd_pattern* p = song.patterns[pattern];
        *snd_cell_field(p, channel, SND_FIELD_NOTE, row) = (uint8_t)(octave * 16 + semitone);
        *snd_cell_field(p, channel, SND_FIELD_SAMPLE, row) = (uint8_t)sample;
        *snd_cell_flags(p, channel, row) |= SND_HAS_NOTE | SND_HAS_SAMPLE;
    }
    void effect(int pattern, int channel, int row, int e, int param) {
        snd_pattern* p = song.patterns[pattern];
        *snd_cell_field(p, channel, SND_FIELD_EFFECT, row) = (uint8_t)e;
        *snd_cell_field(p, channel, SND_FIELD_PARAM, row) = (uint8_t)param;
        *snd_cell_flags(p, channel, row) |= SND_HAS_EFFECT | SND_HAS_PARAM;
    }
    // One returned block: tick every occupied slot, then count the block (the audio thread's order).
    bool block() {
        bool played = false;
        for (int slot = 0; slot < 2; slot++)
            if (eng.snd_players[slot]) played |= snd_tick(&eng, eng.snd_players[slot], slot);
        eng.audio_blocks++;
        if (played) played_rows++;
        return played;
    }
    // Runs blocks until the next row is played; returns the number of blocks it took.
    int next_row() {
        for (int n = 1; n < 1000; n++)
            if (block()) return n;
        return -1;
    }
    // (order position, pattern, row) after the next row.
    std::vector<int> position_after_next_row() {
        next_row();
        return {song.order_pos, song.pattern, song.row};
    }
};

TEST_F(Player, FirstRowTwoBlocksAfterTheStartThenEverySpeedBlocks) {
    eng.audio_blocks = 100;
    snd_play_song(&eng, &song);
    EXPECT_EQ(song.state, 1);
    EXPECT_EQ(song.row_time, 100);
    EXPECT_EQ(eng.snd_players[0], &song);
    EXPECT_FALSE(block()); // block 100
    EXPECT_FALSE(block()); // block 101
    EXPECT_TRUE(block());  // block 102 plays row 0
    EXPECT_EQ(song.state, 2);
    EXPECT_EQ(song.row, 0);
    EXPECT_EQ(eng.snd_arp_period, 551);
    EXPECT_EQ(next_row(), 2);
    EXPECT_EQ(song.row, 1);
}

TEST_F(Player, SongStartsAtTheShownOrderPosition) {
    set_order({0, 1, 3});
    note(3, 0, 0, 9, 4);
    song.order_pos = 2;
    snd_play_song(&eng, &song);
    EXPECT_EQ(position_after_next_row(), (std::vector<int>{2, 3, 0}));
    EXPECT_EQ(voice(0).active, 1);
    EXPECT_EQ(voice(0).semitone, 9);
}

TEST_F(Player, SongModeWrapsTheOrderListAfterTheLastRow) {
    set_order({1, 2});
    song.order_pos = 1;
    snd_play_song(&eng, &song);
    for (int r = 0; r < 64; r++) next_row();
    EXPECT_EQ(song.row, 63);
    EXPECT_EQ(song.pattern, 2);
    EXPECT_EQ(position_after_next_row(), (std::vector<int>{0, 1, 0}));
}

TEST_F(Player, PatternModeLoopsTheCurrentPatternFromItsRow) {
    set_order({0, 1});
    song.pattern = 2;
    song.row = 60;
    snd_play_pattern(&eng, &song);
    EXPECT_EQ(eng.snd_song_mode, 0);
    EXPECT_EQ(position_after_next_row(), (std::vector<int>{0, 2, 60}));
    for (int r = 0; r < 3; r++) next_row();
    EXPECT_EQ(position_after_next_row(), (std::vector<int>{0, 2, 0}));
}

TEST_F(Player, BreakToRowOfTheSamePattern) {
    set_order({0, 1});
    effect(0, 1, 4, 0x0B, 10);
    snd_play_song(&eng, &song);
    for (int r = 0; r <= 4; r++) next_row();
    EXPECT_EQ(song.row, 4);
    EXPECT_EQ(position_after_next_row(), (std::vector<int>{0, 0, 10}));
}

TEST_F(Player, BreakBeyondThePatternGoesToTheNextEntry) {
    set_order({0, 1});
    effect(0, 0, 4, 0x0B, 64);
    snd_play_song(&eng, &song);
    for (int r = 0; r <= 4; r++) next_row();
    EXPECT_EQ(position_after_next_row(), (std::vector<int>{1, 1, 0}));
}

TEST_F(Player, JumpToOrderPositions) {
    set_order({0, 1, 2});
    effect(0, 0, 0, 0x0D, 2);   // jump to position 2
    effect(2, 3, 0, 0x0D, 255); // next position: wraps to 0 from the last entry
    snd_play_song(&eng, &song);
    next_row();
    EXPECT_EQ(song.order_pos, 2); // takes effect from the next row on
    EXPECT_EQ(song.pattern, 0);
    // row 0 of pattern 2 plays; its own D 255 on the last entry already moves the position back to 0
    EXPECT_EQ(position_after_next_row(), (std::vector<int>{0, 2, 0}));
    EXPECT_EQ(position_after_next_row(), (std::vector<int>{2, 0, 0})); // row 0 of pattern 0 jumps again
}

TEST_F(Player, JumpBeyondTheListGoesToTheFirstEntry) {
    set_order({1, 2});
    song.order_pos = 1;
    effect(2, 0, 0, 0x0D, 7);
    snd_play_song(&eng, &song);
    next_row();
    EXPECT_EQ(position_after_next_row(), (std::vector<int>{0, 1, 0}));
}

TEST_F(Player, JumpInPatternModeMovesThePositionAndRestartsThePattern) {
    set_order({0, 3});
    song.pattern = 1;
    effect(1, 0, 5, 0x0D, 0);
    song.row = 5;
    snd_play_pattern(&eng, &song);
    next_row();
    EXPECT_EQ(position_after_next_row(), (std::vector<int>{1, 1, 0}));
}

TEST_F(Player, SpeedAndArpeggioPeriod) {
    effect(0, 2, 0, 0x0F, 0x43);
    effect(0, 2, 1, 0x0F, 0x04);
    snd_play_song(&eng, &song);
    next_row();
    EXPECT_EQ(song.speed, 3);
    EXPECT_EQ(eng.snd_arp_period, 1377);
    EXPECT_EQ(next_row(), 3);
    EXPECT_EQ(eng.snd_arp_period, 5510);
    EXPECT_EQ(song.speed, 4);
    EXPECT_EQ(voice(2).effect, 0x0F); // recorded on the voice as well
}

TEST_F(Player, SpeedZeroPlaysARowEveryBlock) {
    effect(0, 0, 0, 0x0F, 0x00);
    snd_play_song(&eng, &song);
    next_row();
    EXPECT_EQ(next_row(), 1);
    EXPECT_EQ(next_row(), 1);
}

TEST_F(Player, ChannelPinLastsUntilThePatternEnds) {
    set_order({0, 1});
    effect(0, 2, 3, 0x05, 3);
    note(3, 2, 4, 0, 5);         // heard through the pin
    note(0, 2, 4, 7, 2);         // hidden by the pin
    effect(0, 2, 6, 0x0F, 0x02); // speed still read from the song's pattern
    effect(3, 2, 6, 0x0F, 0x05); // not from the pinned one
    note(3, 2, 10, 2, 5);
    note(1, 2, 0, 4, 3); // after the pattern's end the song is followed again
    snd_play_song(&eng, &song);
    for (int r = 0; r <= 3; r++) next_row();
    EXPECT_EQ(voice(2).channel_pattern, 3);
    EXPECT_EQ(snd_channel_pattern(&eng, &song, 2), song.patterns[3]);
    EXPECT_EQ(snd_channel_pattern(&eng, &song, 1), song.patterns[0]);
    next_row();
    EXPECT_EQ(voice(2).octave, 5);
    EXPECT_EQ(voice(2).semitone, 0);
    next_row();
    next_row();
    EXPECT_EQ(song.speed, 2);
    while (song.row < 10) next_row();
    EXPECT_EQ(voice(2).semitone, 2);
    EXPECT_EQ(voice(2).active, 1);
    while (song.pattern == 0) next_row();
    EXPECT_EQ(voice(2).channel_pattern, -1);
    EXPECT_EQ(voice(2).semitone, 4);
    EXPECT_EQ(voice(2).octave, 3);
}

TEST_F(Player, PinToAMissingPatternIsIgnored) {
    effect(0, 1, 0, 0x05, 9);
    snd_play_song(&eng, &song);
    next_row();
    EXPECT_EQ(voice(1).channel_pattern, -1);
}

TEST_F(Player, StopEffectStopsTheSongButTheRowGoesOn) {
    effect(0, 1, 2, 0x08, 0);
    note(0, 3, 2, 5, 4);
    snd_play_song(&eng, &song);
    for (int r = 0; r < 3; r++) next_row();
    EXPECT_EQ(song.state, 0);
    EXPECT_EQ(eng.snd_players[0], nullptr);
    EXPECT_EQ(voice(3).active, 1);
    EXPECT_EQ(voice(3).semitone, 5);
    for (int i = 0; i < 10; i++) EXPECT_FALSE(block());
}

TEST_F(Player, BareSampleChangeKeepsTheNoteSounding) {
    note(0, 0, 0, 0, 4, 2);
    *snd_cell_field(song.patterns[0], 0, SND_FIELD_SAMPLE, 1) = 0;
    *snd_cell_flags(song.patterns[0], 0, 1) = SND_HAS_SAMPLE;
    snd_play_song(&eng, &song);
    next_row();
    voice(0).phase[0] = 123.0f;
    next_row();
    EXPECT_EQ(voice(0).sample, &song.samples[0]);
    EXPECT_EQ(voice(0).phase[0], 123.0f);
    EXPECT_EQ(voice(0).active, 1);
}

TEST_F(Player, VolumeFifteenIsJustBelowFullGain) {
    *snd_cell_field(song.patterns[0], 0, SND_FIELD_VOLUME, 0) = 15;
    *snd_cell_flags(song.patterns[0], 0, 0) = SND_HAS_VOLUME;
    *snd_cell_field(song.patterns[0], 1, SND_FIELD_VOLUME, 0) = 0;
    *snd_cell_flags(song.patterns[0], 1, 0) = SND_HAS_VOLUME;
    snd_play_song(&eng, &song);
    next_row();
    EXPECT_EQ(voice(0).target_volume, (float)(240 * 0.003921568859368563));
    EXPECT_NEAR(voice(0).target_volume, 0.941, 1e-3);
    EXPECT_EQ(voice(1).target_volume, 0.0f);
}

TEST_F(Player, NoteOffStopsTheVoiceAndResetsItsEffects) {
    note(0, 0, 0, 0, 4);
    effect(0, 0, 0, 0x07, 0x33);
    effect(0, 0, 1, 0x00, 0);
    snd_play_song(&eng, &song);
    next_row();
    EXPECT_EQ(voice(0).vibrato, 1);
    next_row();
    EXPECT_EQ(voice(0).active, 0);
    EXPECT_EQ(voice(0).vibrato, 0);
    EXPECT_EQ(voice(0).channel_pattern, 0); // pinned to the playing pattern until its end
}

TEST_F(Player, AfterAStopChannelsKeepShowingTheStoppedPattern) {
    set_order({2});
    snd_play_song(&eng, &song);
    next_row();
    snd_stop_song(&eng, &song);
    EXPECT_EQ(eng.snd_players[0], nullptr);
    song.pattern = 1;
    EXPECT_EQ(snd_channel_pattern(&eng, &song, 0), song.patterns[2]);
    EXPECT_EQ(snd_channel_pattern(&eng, &song, 3), song.patterns[2]);
    snd_play_song(&eng, &song);
    EXPECT_EQ(snd_channel_pattern(&eng, &song, 0), song.patterns[1]);
}

TEST_F(Player, APinBeyondThePatternTableCountsAsNone) {
    set_order({3});
    snd_play_song(&eng, &song);
    next_row();
    snd_stop_song(&eng, &song); // every channel pinned to pattern 3
    snd_delete_pattern(&song, 3);
    song.pattern = 1;
    LogCapture log;
    EXPECT_EQ(snd_channel_pattern(&eng, &song, 0), song.patterns[1]);
    EXPECT_EQ(log.asserts(), 1);
    note(1, 0, 0, 0, 4);
    snd_play_pattern(&eng, &song);
    voice(0).channel_pattern = 200;
    song.row = 0;
    next_row();
    EXPECT_EQ(voice(0).active, 1);
}

TEST_F(Player, NotesOutsideTheTableAreNotPlayed) {
    *snd_cell_field(song.patterns[0], 0, SND_FIELD_NOTE, 0) = 0x4C; // semitone 12
    *snd_cell_field(song.patterns[0], 0, SND_FIELD_SAMPLE, 0) = 0;
    *snd_cell_field(song.patterns[0], 0, SND_FIELD_VOLUME, 0) = 8;
    *snd_cell_flags(song.patterns[0], 0, 0) = SND_HAS_NOTE | SND_HAS_SAMPLE | SND_HAS_VOLUME;
    *snd_cell_field(song.patterns[0], 1, SND_FIELD_NOTE, 0) = 0xA0; // octave 10
    *snd_cell_flags(song.patterns[0], 1, 0) = SND_HAS_NOTE;
    snd_play_song(&eng, &song);
    LogCapture log;
    next_row();
    EXPECT_EQ(voice(0).active, 0);
    EXPECT_EQ(voice(0).sample, &song.samples[0]); // the sample field still applies
    EXPECT_EQ(voice(0).target_volume, (float)(128 * 0.003921568859368563));
    EXPECT_EQ(voice(1).active, 0);
    EXPECT_EQ(log.asserts(), 2);
}

TEST_F(Player, SampleIndicesBeyondTheTableChangeNothing) {
    note(0, 0, 0, 0, 4, 2);
    note(0, 0, 1, 5, 4, 9);
    *snd_cell_field(song.patterns[0], 0, SND_FIELD_VOLUME, 1) = 4;
    *snd_cell_flags(song.patterns[0], 0, 1) |= SND_HAS_VOLUME;
    *snd_cell_field(song.patterns[0], 1, SND_FIELD_SAMPLE, 0) = 15;
    *snd_cell_flags(song.patterns[0], 1, 0) = SND_HAS_SAMPLE;
    snd_play_song(&eng, &song);
    next_row();
    next_row();
    EXPECT_EQ(voice(0).semitone, 0); // the note with sample 9 was not played
    EXPECT_EQ(voice(0).sample, &song.samples[2]);
    EXPECT_EQ(voice(0).target_volume, (float)(64 * 0.003921568859368563));
    EXPECT_EQ(voice(1).sample, nullptr);
}

TEST_F(Player, OrderEntriesNamingNoPatternPlayNothing) {
    set_order({0, 9});
    song.order_pos = 1;
    snd_play_song(&eng, &song);
    LogCapture log;
    next_row();
    EXPECT_GT(log.asserts(), 0);
    EXPECT_LT(song.pattern, song.pattern_count);
}

TEST_F(Player, TickLeavesTheBankSelectionAsItWas) {
    eng.snd_slot = 1;
    snd_play_song(&eng, &song);
    next_row();
    EXPECT_EQ(eng.snd_slot, 1);
    snd_stop_song(&eng, &song);
    EXPECT_EQ(eng.snd_slot, 1);
    eng.snd_slot = 0;
}

TEST_F(Player, PlayingWhileAnotherSongPlaysStopsIt) {
    snd_song other{};
    snd_create_song(&eng, &other, 1);
    snd_play_song(&eng, &other);
    next_row();
    snd_play_song(&eng, &song);
    EXPECT_EQ(other.state, 0);
    EXPECT_EQ(eng.snd_players[0], &song);
    snd_free_song(&eng, &other);
}

// Endless play: the renderer moves the block clock and the row's start back together long before the clock could
// overflow, and not a sample changes.
TEST(Renderer, EndlessPlayKeepsTheBlockClockFromOverflowing) {
    std::vector<uint8_t> tune;
    if (FILE* f = fopen(QUAVLO_SOURCE_DIR "/examples/tune.qvl", "rb")) {
        for (int c; (c = fgetc(f)) != EOF;) tune.push_back((uint8_t)c);
        fclose(f);
    }
    ASSERT_FALSE(tune.empty());
    auto render = [&](snd_engine* e, std::vector<int16_t>* out, size_t frames, int per_call) {
        for (size_t have = 0; have < frames;) {
            int16_t chunk[4096];
            const int n = (int)std::min<size_t>((size_t)per_call, frames - have);
            ASSERT_EQ(snd_render(e, chunk, n), n);
            out->insert(out->end(), chunk, chunk + n);
            have += (size_t)n;
        }
    };
    std::vector<int16_t> expected, played;
    for (std::vector<int16_t>* out : {&expected, &played}) {
        snd_engine* e = new snd_engine;
        snd_init_engine(e);
        snd_song song = snd_unpack_module(e, tune.data(), (int32_t)tune.size());
        snd_play_song(e, &song);
        if (out == &expected) {
            render(e, out, 200 * SND_BLOCK, 4096);
        } else {
            render(e, out, 50 * SND_BLOCK, SND_BLOCK);
            // Years on: the clock and the row's start stand just below the largest count.
            const int32_t ahead = INT32_MAX - 10 - e->audio_blocks;
            e->audio_blocks += ahead;
            song.row_time += ahead;
            render(e, out, 150 * SND_BLOCK, 777);
            EXPECT_TRUE(e->audio_blocks > 0 && e->audio_blocks < 1 << 30) << e->audio_blocks;
        }
        snd_free_song(e, &song);
        delete e;
    }
    EXPECT_EQ(played, expected);
}

} // namespace

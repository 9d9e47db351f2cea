// The song model: creation, pattern and order-list edits, and the generated samples.
#include "log_capture.h"
#include "os_tools.h"
#include "sound.h"
#include "sound_tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

static snd_engine eng; // the engine the cases play with

namespace {

uint32_t fake_clock_value; // what the noise generator's clock returns in these tests
int32_t fake_clock() { return (int32_t)fake_clock_value; }

class Song : public ::testing::Test {
protected:
    snd_song song{};
    void SetUp() override {
        eng.sound_amplitude = 32767;
        eng.snd_noise_seed = 55;
        fake_clock_value = 0;
        eng.snd_clock_ms = fake_clock;
        allocs_before = os_alloc_count;
    }
    void TearDown() override {
        snd_free_song(&eng, &song);
        EXPECT_EQ(os_alloc_count, allocs_before);
        EXPECT_EQ(eng.snd_live_samples, 0);
    }
    std::vector<int> order() const { return std::vector<int>(song.order, song.order + song.order_len); }
    int32_t allocs_before = 0;
};

TEST_F(Song, NewSongHasEightSamplesOnePatternAndOneOrderEntry) {
    snd_song copy = snd_create_song(&eng, &song, 1);
    EXPECT_EQ(copy.patterns, song.patterns);
    EXPECT_EQ(song.sample_count, 8);
    EXPECT_EQ(song.pattern_count, 1);
    EXPECT_EQ(order(), std::vector<int>{0});
    EXPECT_EQ(eng.snd_live_samples, 8);
    const char* names[] = {"SIN", "TRI", "SQR", "SQR", "SQR", "SQR", "NOI", "SAW"};
    for (int i = 0; i < 8; i++) {
        EXPECT_STREQ(song.samples[i].name, names[i]);
        EXPECT_EQ(song.samples[i].length, i == 6 ? 100000 : 10000);
    }
    for (uint8_t b : song.patterns[0]->bytes) ASSERT_EQ(b, 0);
    EXPECT_EQ(song.state, 0);
    EXPECT_EQ(song.order_pos, 0);
}

TEST_F(Song, NoPatternSongHasSamplesButNoTables) {
    snd_create_song(&eng, &song, 0);
    EXPECT_EQ(song.sample_count, 8);
    EXPECT_EQ(song.pattern_count, 0);
    EXPECT_EQ(song.order_len, 0);
    EXPECT_EQ(song.patterns, nullptr);
    EXPECT_EQ(song.order, nullptr);
}

TEST_F(Song, FreeingTwiceIsHarmless) {
    snd_create_song(&eng, &song, 2);
    snd_free_song(&eng, &song);
    EXPECT_EQ(os_alloc_count, allocs_before);
    LogCapture log;
    snd_free_song(&eng, &song);
    EXPECT_EQ(log.asserts(), 0);
}

TEST_F(Song, DeletePatternMovesLaterPatternsDownAndRemapsOrder) {
    snd_create_song(&eng, &song, 3);
    snd_pattern* p0 = song.patterns[0];
    snd_pattern* p2 = song.patterns[2];
    song.order[1] = 1;
    song.order[2] = 2;
    snd_delete_pattern(&song, 1);
    ASSERT_EQ(song.pattern_count, 2);
    EXPECT_EQ(song.patterns[0], p0);
    EXPECT_EQ(song.patterns[1], p2);
    EXPECT_EQ(order(), (std::vector<int>{0, 1, 0}));
}

TEST_F(Song, DeleteLastPatternTurnsItsEntriesIntoZero) {
    snd_create_song(&eng, &song, 3);
    song.order[0] = 2;
    song.order[1] = 1;
    song.order[2] = 2;
    snd_delete_pattern(&song, 2);
    EXPECT_EQ(song.pattern_count, 2);
    EXPECT_EQ(order(), (std::vector<int>{0, 1, 0}));
}

TEST_F(Song, TheOnlyPatternCannotBeDeleted) {
    snd_create_song(&eng, &song, 1);
    LogCapture log;
    snd_delete_pattern(&song, 0);
    EXPECT_GE(log.asserts(), 1);
    EXPECT_EQ(song.pattern_count, 1);
    ASSERT_NE(song.patterns[0], nullptr);
}

TEST_F(Song, AddPatternAppendsAnEmptyOneUpTo255) {
    snd_create_song(&eng, &song, 1);
    song.patterns[0]->bytes[5] = 9;
    snd_add_pattern(&song);
    ASSERT_EQ(song.pattern_count, 2);
    EXPECT_EQ(song.patterns[0]->bytes[5], 9);
    for (uint8_t b : song.patterns[1]->bytes) ASSERT_EQ(b, 0);
    while (song.pattern_count < 255) snd_add_pattern(&song);
    snd_pattern** table = song.patterns;
    LogCapture log;
    snd_add_pattern(&song);
    EXPECT_EQ(log.asserts(), 1);
    EXPECT_EQ(song.pattern_count, 255);
    EXPECT_EQ(song.patterns, table);
}

TEST_F(Song, InsertOrderAppendsOrShiftsUp) {
    snd_create_song(&eng, &song, 3);
    song.order[0] = 1;
    song.order[1] = 2;
    song.order[2] = 1;
    song.order_pos = 2;
    snd_insert_order(&song, song.order_len);
    EXPECT_EQ(order(), (std::vector<int>{1, 2, 1, 0}));
    snd_insert_order(&song, 0);
    EXPECT_EQ(order(), (std::vector<int>{0, 1, 2, 1, 0}));
    snd_insert_order(&song, 2);
    EXPECT_EQ(order(), (std::vector<int>{0, 1, 0, 2, 1, 0}));
    EXPECT_EQ(song.order_pos, 2);
    LogCapture log;
    snd_insert_order(&song, -1);
    EXPECT_EQ(log.asserts(), 1);
    EXPECT_EQ(song.order_len, 6);
}

TEST_F(Song, InsertOrderWithoutPatternsAppends) {
    snd_create_song(&eng, &song, 0);
    snd_insert_order(&song, 0);
    snd_insert_order(&song, 0);
    EXPECT_EQ(order(), (std::vector<int>{0, 0}));
}

TEST_F(Song, DeleteOrderKeepsPositionInsideTheList) {
    snd_create_song(&eng, &song, 3);
    song.order[0] = 1;
    song.order[1] = 2;
    song.order_pos = 2;
    snd_delete_order(&song, 2);
    EXPECT_EQ(order(), (std::vector<int>{1, 2}));
    EXPECT_EQ(song.order_pos, 1);
    snd_delete_order(&song, 0);
    EXPECT_EQ(order(), std::vector<int>{2});
    EXPECT_EQ(song.order_pos, 0);
}

TEST_F(Song, TheLastOrderEntryStays) {
    snd_create_song(&eng, &song, 1);
    LogCapture log;
    snd_delete_order(&song, 0);
    snd_delete_order(&song, 5);
    EXPECT_EQ(log.asserts(), 2);
    EXPECT_EQ(order(), std::vector<int>{0});
    EXPECT_EQ(song.order_pos, 0);
}

TEST_F(Song, UsableAndRepair) {
    snd_song empty{};
    EXPECT_FALSE(snd_song_usable(&empty));
    snd_create_song(&eng, &song, 0);
    EXPECT_FALSE(snd_song_usable(&song)); // no order entry
    snd_insert_order(&song, 0);
    snd_insert_order(&song, 1);
    song.order[1] = 7;
    EXPECT_TRUE(snd_song_usable(&song));
    snd_repair_song(&song);
    EXPECT_EQ(song.pattern_count, 1);
    EXPECT_EQ(order(), (std::vector<int>{0, 0}));
    snd_add_pattern(&song);
    song.order[1] = 1;
    snd_repair_song(&song);
    EXPECT_EQ(song.pattern_count, 2);
    EXPECT_EQ(order(), (std::vector<int>{0, 1}));
}

// ---- Generated samples

TEST(TableSine, FixedEntriesAndLookup) {
    os_sin(0);
    EXPECT_EQ(os_sin_table[0], 0);
    EXPECT_EQ(os_sin_table[1], 803);
    EXPECT_EQ(os_sin_table[64], 32767);
    EXPECT_EQ(os_sin_table[128], 52);
    EXPECT_EQ(os_sin_table[192], -32767);
    EXPECT_EQ(os_sin_table[255], -908);
    for (int i = 0; i < 256; i++) EXPECT_LE(std::abs(os_sin_table[i] - 32767.0 * sin(i * 6.28 / 256)), 1.0) << i;
    // The table written out for builds without sin (sound_tables.h) is the formula's, entry for entry.
    for (int i = 0; i < 256; i++) {
        EXPECT_EQ(os_sin_table[i], (int16_t)floor(32767.0 * sin(i * 6.28 / 256.0) + 0.25)) << i;
        EXPECT_EQ(snd_sin_entries[i], os_sin_table[i]) << i;
    }
    EXPECT_EQ(os_sin(0.0f), 0.0f);
    EXPECT_EQ(os_sin(1.57f), (float)(32767 * 3.0518509447574615e-05)); // index 64
    EXPECT_EQ(os_sin(6.28f), os_sin(0.0f));                            // the period is 6.28, not 2 pi
    EXPECT_EQ(os_sin(-0.03f), (float)(-908 * 3.0518509447574615e-05)); // index -1 & 255
}

TEST_F(Song, SineFollowsTheTableSine) {
    snd_create_song(&eng, &song, 0);
    const snd_sample& s = song.samples[0];
    for (int i : {0, 1, 250, 999, 1000, 4321, 9999}) {
        const float expected = 4095.0f * os_sin((float)(i * (double)6.28f / 1000.0));
        EXPECT_EQ(s.data[i], expected) << i;
    }
    EXPECT_EQ(s.data[250], 4095.0f * (float)(32767 * 3.0518509447574615e-05)); // index 64: the peak
}

TEST_F(Song, RampRisesFromZeroThenRunsFromMinusAToA) {
    snd_create_song(&eng, &song, 0);
    const snd_sample& s = song.samples[1];
    EXPECT_EQ(s.data[0], 0.0f);
    EXPECT_FLOAT_EQ(s.data[1], 4.095f);
    EXPECT_FLOAT_EQ(s.data[2], 8.19f);
    int first_negative = -1;
    for (int i = 0; i < s.length; i++)
        if (s.data[i] < 0) {
            first_negative = i;
            break;
        }
    ASSERT_GT(first_negative, 990);
    EXPECT_LT(first_negative, 1010);
    EXPECT_EQ(s.data[first_negative], -4095.0f);
    int next_wrap = -1;
    for (int i = first_negative + 1; i < s.length; i++)
        if (s.data[i] < s.data[i - 1]) {
            next_wrap = i;
            break;
        }
    EXPECT_NEAR(next_wrap - first_negative, 2000, 5); // one period is about 2000 values
    EXPECT_EQ(snd_check_sample(&eng, &s), 1);
}

TEST_F(Song, TriangleRisesFallsAndStaysInRange) {
    snd_create_song(&eng, &song, 0);
    const snd_sample& s = song.samples[7];
    EXPECT_EQ(s.data[0], 0.0f);
    EXPECT_FLOAT_EQ(s.data[1], 8.19f);
    float top = 0, bottom = 0;
    int top_at = 0;
    for (int i = 0; i < 3000; i++) {
        if (s.data[i] > top) top = s.data[i], top_at = i;
        bottom = std::min(bottom, s.data[i]);
    }
    EXPECT_LE(top, 4095.0f);
    EXPECT_GE(bottom, -4095.0f);
    EXPECT_GT(top, 4085.0f);
    EXPECT_NEAR(top_at, 500, 2);
    EXPECT_LT(s.data[1000], 10.0f); // back through zero after half a period
}

TEST_F(Song, SquareDutyCounts) {
    snd_create_song(&eng, &song, 0);
    const int expected[] = {500, 401, 301, 201};
    for (int k = 0; k < 4; k++) {
        const snd_sample& s = song.samples[2 + k];
        for (int period = 0; period < 10; period++) {
            int high = 0;
            for (int i = 0; i < 1000; i++) {
                const float v = s.data[period * 1000 + i];
                ASSERT_TRUE(v == 4095.0f || v == -4095.0f);
                if (v > 0) {
                    high++;
                    ASSERT_LT(i, expected[k]); // the high part comes first in each period
                }
            }
            EXPECT_EQ(high, expected[k]) << "duty sample " << 2 + k;
        }
    }
}

TEST_F(Song, NoiseRunsOf62ValuesWithinRange) {
    snd_create_song(&eng, &song, 0);
    const snd_sample& s = song.samples[6];
    for (int start = 0; start < s.length; start += 62) {
        const int end = std::min(start + 62, s.length);
        for (int i = start; i < end; i++) ASSERT_EQ(s.data[i], s.data[start]);
    }
    EXPECT_EQ(s.data[99944], s.data[99999]);
    EXPECT_NE(s.data[99943], s.data[99944]);
    for (int i = 0; i < s.length; i++) {
        ASSERT_GE(s.data[i], -4095.0f);
        ASSERT_LE(s.data[i], 4095.0f);
    }
}

TEST_F(Song, NoiseFirstRunFromTheSeedAndTheClock) {
    fake_clock_value = 0x12345; // only the low 16 bits count
    snd_create_song(&eng, &song, 0);
    uint32_t t = 55u * 263u + 71u;
    EXPECT_EQ(song.samples[6].data[0], (float)((double)(t % 819000u) * (double)0.01f - 4095.0));
    const uint32_t seed = t + 0x2345;
    t = seed * 263u + 71u;
    EXPECT_EQ(song.samples[6].data[62], (float)((double)(t % 819000u) * (double)0.01f - 4095.0));
}

TEST_F(Song, NoiseDependsOnTheClockButIsReproducible) {
    auto first_values = [](uint32_t clock) {
        snd_song s{};
        eng.snd_noise_seed = 55;
        fake_clock_value = clock;
        snd_create_song(&eng, &s, 0);
        std::vector<float> v(s.samples[6].data, s.samples[6].data + 1000);
        snd_free_song(&eng, &s);
        return v;
    };
    EXPECT_EQ(first_values(1234), first_values(1234));
    EXPECT_EQ(first_values(1234), first_values(66770)); // same low 16 bits
    EXPECT_NE(first_values(1234), first_values(1235));
}

TEST(CheckSample, BoundsAreHalfBelowAndFullAbove) {
    eng.sound_amplitude = 32767;
    float data[2] = {-16383.0f, 32767.0f};
    snd_sample s{"X", data, 2};
    EXPECT_EQ(snd_check_sample(&eng, &s), 1);
    data[0] = -16384.0f;
    EXPECT_EQ(snd_check_sample(&eng, &s), 0);
    data[0] = 0;
    data[1] = 32768.0f;
    EXPECT_EQ(snd_check_sample(&eng, &s), 0);
    snd_sample empty{"X", nullptr, 0};
    EXPECT_EQ(snd_check_sample(&eng, &empty), 1);
}

TEST(Generators, RefuseARecordThatAlreadyHasData) {
    eng.sound_amplitude = 32767;
    float existing[1] = {0};
    snd_sample s{"X", existing, 1};
    const int32_t live = eng.snd_live_samples;
    LogCapture log;
    snd_gen_sine(&eng, &s);
    snd_gen_square(&eng, &s, 1.5f);
    EXPECT_EQ(s.data, existing);
    EXPECT_EQ(eng.snd_live_samples, live);
    EXPECT_EQ(log.asserts(), 3);
}

} // namespace

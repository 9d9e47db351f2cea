// Voices and the mixer: pitch, the two oscillators, glides, fades, vibrato, arpeggio, polarity and clipping.
#include "log_capture.h"
#include "os_tools.h"
#include "sound.h"
#include "sound_tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

static snd_engine eng; // the engine the cases play with

namespace {

class Synth : public ::testing::Test {
protected:
    snd_song song{};
    int16_t block[SND_BLOCK];
    float constant_data[1000];
    snd_sample constant{"CON", constant_data, 1000}; // every value the same: 10000

    void SetUp() override {
        eng.sound_amplitude = 32767;
        eng.snd_slot = 0;
        eng.snd_arp_period = 551;
        snd_ready_players(&eng);
        snd_create_song(&eng, &song, 1);
        for (float& f : constant_data) f = 10000.0f;
    }
    void TearDown() override {
        snd_free_song(&eng, &song);
        for (int b = 0; b < 2; b++) snd_reset_voices(&eng, b);
    }
    snd_voice& voice(int i, int bank = 0) { return eng.snd_voices[bank][i]; }
    snd_sample* sqr() { return &song.samples[2]; }
    std::vector<int16_t> mix() {
        snd_mix(&eng, block);
        return std::vector<int16_t>(block, block + SND_BLOCK);
    }
};

TEST(NoteTable, TenthsOfAHertz) {
    EXPECT_EQ(snd_note_freq[0], 16.4f);
    EXPECT_EQ(snd_note_freq[9], 27.5f);
    EXPECT_EQ(snd_note_freq[57], 440.0f);
    EXPECT_EQ(snd_note_freq[119], 15804.3f);
    for (int n = 0; n < SND_NOTES; n++) {
        EXPECT_GT(snd_note_freq[n], 0.0f);
        EXPECT_NEAR(snd_note_freq[n], 440.0 * pow(2.0, (n - 57) / 12.0), 0.05 + 1e-3);
        // The table written out for builds without pow (sound_tables.h) is the formula's, entry for entry.
        EXPECT_EQ(snd_note_freq[n], (float)(round(440.0 * pow(2.0, (n - 57) / 12.0) * 10.0) / 10.0)) << n;
        EXPECT_EQ(snd_note_entries[n], snd_note_freq[n]) << n;
    }
}

TEST_F(Synth, NoteStepFromTheFrequency) {
    snd_play_note(&eng, 9, 4, 0, sqr(), 0);
    EXPECT_EQ(voice(0).step[0], (float)(1000.0 / (22050.0 / 440.0)));
    EXPECT_FLOAT_EQ(voice(0).step[0], 19.954648f);
    EXPECT_EQ(voice(0).step[1], voice(0).step[0]);
    EXPECT_EQ(voice(0).base_step[0], voice(0).step[0]);
    EXPECT_EQ(voice(0).semitone, 9);
    EXPECT_EQ(voice(0).octave, 4);
    EXPECT_EQ(voice(0).active, 1);
    EXPECT_EQ(voice(0).phase[1], voice(0).phase[0] + 500);
}

TEST_F(Synth, FullSquareAtFullGainSwingsBetweenPlusAndMinus4095) {
    snd_play_note(&eng, 0, 4, 0, sqr(), 0);
    const auto out = mix();
    bool high = false, low = false;
    for (int16_t s : out) {
        ASSERT_TRUE(s == 4095 || s == -4095) << s;
        high |= s > 0;
        low |= s < 0;
    }
    EXPECT_TRUE(high && low);
}

TEST_F(Synth, DetuneCarriesOverANoteOnWithItsSignTurned) {
    snd_play_note(&eng, 0, 4, 0, sqr(), 0);
    const float s = voice(0).step[0];
    snd_set_effect(&eng, 0, 10, 6); // second oscillator 0.1 steps above
    EXPECT_EQ(voice(0).target_step[1], (float)(s + 10 * (double)0.01f));
    snd_play_note(&eng, 0, 4, 0, sqr(), 0);
    EXPECT_NEAR(voice(0).step[1] - voice(0).step[0], -0.1, 1e-5); // now below
    snd_play_note(&eng, 0, 4, 0, sqr(), 0);
    EXPECT_NEAR(voice(0).step[1] - voice(0).step[0], 0.1, 1e-5); // and above again
}

TEST_F(Synth, SecondOscillatorIsMixedWithTheOppositeSignWhileStepsDiffer) {
    snd_note_on(&eng, &constant, 0, 440.0f, 0);
    EXPECT_EQ(mix()[0], 10000);
    snd_set_effect(&eng, 0, 10, 6); // moves the second target; its current step glides after it from the next sample
    const auto out = mix();
    EXPECT_EQ(out[0], 10000);
    EXPECT_EQ(out[1], 0);          // 10000 - 10000
    snd_set_effect(&eng, 0, 0, 6); // targets equal again: mixed until the current steps meet
    EXPECT_EQ(mix()[0], 0);
}

TEST_F(Synth, GainGlidesTowardItsTarget) {
    snd_note_on(&eng, &constant, 0, 440.0f, 0);
    voice(0).volume = 0.0f;
    const auto out = mix();
    EXPECT_EQ(out[0], (int16_t)(10000.0f * (float)(double)0.01f));
    for (int i = 1; i < SND_BLOCK; i++) ASSERT_GE(out[i], out[i - 1]);
    EXPECT_NEAR(out[SND_BLOCK - 1], 10000 * (1 - pow(0.99, SND_BLOCK)), 20);
    voice(0).target_volume = 0.5f;
    mix();
    mix();
    EXPECT_NEAR(voice(0).volume, 0.5f, 1e-3);
}

TEST_F(Synth, FadeOutReachesSilenceAsTheCountdownEnds) {
    snd_note_on(&eng, &constant, 0, 440.0f, 0);
    snd_set_effect(&eng, 0, 2, 4); // two blocks
    EXPECT_EQ(voice(0).countdown, 2204);
    EXPECT_EQ(voice(0).fading, 1);
    mix();
    EXPECT_NEAR(voice(0).target_volume, 0.5, 0.01);
    const auto second = mix();
    EXPECT_EQ(voice(0).active, 0);
    EXPECT_EQ(voice(0).target_volume, 0.0f);
    EXPECT_LT(second[SND_BLOCK - 1], second[0] / 4); // the gain follows its falling target closely
    for (int i = 1; i < SND_BLOCK; i++) ASSERT_LE(second[i], second[i - 1]);
    for (int16_t s : mix()) ASSERT_EQ(s, 0);
}

TEST_F(Synth, BlockGoesSilentWhenTheOnlyVoiceStopsInsideIt) {
    snd_note_on(&eng, &constant, 0, 440.0f, 1); // 1000 samples
    for (int16_t s : mix()) ASSERT_EQ(s, 0);
    EXPECT_EQ(voice(0).active, 0);
}

TEST_F(Synth, AVoiceEndingOnTheLastSampleKeepsItsBlock) {
    snd_note_on(&eng, &constant, 0, 440.0f, 0);
    voice(0).countdown = SND_BLOCK;
    EXPECT_EQ(mix()[SND_BLOCK - 1], 10000);
    EXPECT_EQ(voice(0).active, 0);
}

// Mixes exactly n samples of voice 0: its countdown stops it after the n-th, leaving its state to inspect.
#define MIX_SAMPLES(n)                                                                                                 \
    do {                                                                                                               \
        voice(0).countdown = (n);                                                                                      \
        voice(0).active = 1;                                                                                           \
        snd_mix(&eng, block);                                                                                          \
    } while (0)

TEST_F(Synth, VibratoMovesTheStepFromTheThirdCountedSample) {
    snd_play_note(&eng, 0, 4, 0, sqr(), 0);
    const float base = voice(0).base_step[0];
    snd_set_effect(&eng, 0, 0x03, 7); // rate 0.01 rad per sample, depth 0.3 steps
    EXPECT_EQ(voice(0).vib_depth, (float)(3 * (double)0.1f));
    EXPECT_EQ(voice(0).vib_rate, 0.01f);
    const snd_voice start = voice(0);
    MIX_SAMPLES(2); // angle 0.02 is still the table's entry 0
    EXPECT_EQ(voice(0).counter, 2);
    EXPECT_EQ(voice(0).step[0], base);
    voice(0) = start;
    MIX_SAMPLES(3); // angle 0.03 reaches entry 1
    EXPECT_EQ(voice(0).step[0], (float)(803 * 3.0518509447574615e-05 * voice(0).vib_depth + base));
    EXPECT_EQ(voice(0).target_step[1], voice(0).step[1]);
    voice(0) = start;
    snd_set_effect(&eng, 0, 0x13, 7); // half the rate: entry 1 comes at the fifth sample (angle 0.025)
    MIX_SAMPLES(4);
    EXPECT_EQ(voice(0).step[0], base);
    MIX_SAMPLES(1);
    EXPECT_GT(voice(0).step[0], base);
}

TEST_F(Synth, ArpeggioStepsEveryPeriod) {
    snd_play_note(&eng, 0, 4, 0, sqr(), 0); // C-4
    const float c = voice(0).step[0];
    snd_set_effect(&eng, 0, 0x47, 3); // C, E, G
    const float e = (float)(1000.0 / (22050.0 / snd_note_freq[4 * 12 + 4]));
    const float g = (float)(1000.0 / (22050.0 / snd_note_freq[4 * 12 + 7]));
    EXPECT_EQ(voice(0).arp_step[0][0], c);
    EXPECT_EQ(voice(0).arp_step[0][1], e);
    EXPECT_EQ(voice(0).arp_step[0][2], g);
    const snd_voice start = voice(0);
    MIX_SAMPLES(550);
    EXPECT_EQ(voice(0).arp_index, 0);
    EXPECT_EQ(voice(0).step[0], c);
    voice(0) = start;
    MIX_SAMPLES(551);
    EXPECT_EQ(voice(0).arp_index, 1);
    EXPECT_EQ(voice(0).step[0], e);
    EXPECT_EQ(voice(0).counter, 0);
    MIX_SAMPLES(551);
    EXPECT_EQ(voice(0).step[0], g);
    MIX_SAMPLES(551);
    EXPECT_EQ(voice(0).arp_index, 0);
    EXPECT_EQ(voice(0).step[0], c);
    voice(0) = start;
    eng.snd_arp_period = 1377;
    MIX_SAMPLES(SND_BLOCK);
    MIX_SAMPLES(1376 - SND_BLOCK);
    EXPECT_EQ(voice(0).counter, 1376);
    EXPECT_EQ(voice(0).arp_index, 0);
    MIX_SAMPLES(1);
    EXPECT_EQ(voice(0).arp_index, 1);
}

TEST_F(Synth, ArpeggioRebuildsOnEveryNewNoteAndCarriesTheOctave) {
    snd_play_note(&eng, 11, 4, 0, sqr(), 0); // B-4
    snd_set_effect(&eng, 0, 0x12, 3);
    EXPECT_EQ(voice(0).arp_step[0][1], (float)(1000.0 / (22050.0 / snd_note_freq[5 * 12 + 0])));
    snd_play_note(&eng, 0, 2, 0, sqr(), 0); // new note: the arpeggio follows it
    EXPECT_EQ(voice(0).arp_step[0][1], (float)(1000.0 / (22050.0 / snd_note_freq[2 * 12 + 1])));
    EXPECT_EQ(voice(0).arpeggio, 1);
}

TEST_F(Synth, ArpeggioPastTheLastNoteUsesTheLastEntry) {
    snd_play_note(&eng, 11, 9, 0, sqr(), 0); // B-9, the last note
    snd_set_effect(&eng, 0, 0xFF, 3);
    const float last = (float)(1000.0 / (22050.0 / snd_note_freq[119]));
    EXPECT_EQ(voice(0).arp_step[0][1], last);
    EXPECT_EQ(voice(0).arp_step[0][2], last);
    mix();
}

TEST_F(Synth, SlidesMoveTheTargetsAndStopAtZero) {
    snd_play_note(&eng, 0, 1, 0, sqr(), 0);
    const float t = voice(0).target_step[0];
    snd_set_effect(&eng, 0, 100, 1);
    EXPECT_EQ(voice(0).target_step[0], (float)(t + 1000.0 / (22050.0 / 100)));
    EXPECT_EQ(voice(0).step[0], t); // the current step glides after it
    mix();
    EXPECT_GT(voice(0).step[0], t);
    snd_set_effect(&eng, 0, 255, 2);
    snd_set_effect(&eng, 0, 255, 2);
    EXPECT_EQ(voice(0).target_step[0], 0.0f);
    EXPECT_EQ(voice(0).target_step[1], 0.0f);
    const float before = voice(0).target_step[0];
    snd_set_effect(&eng, 0, 0, 1); // parameter 0 changes nothing
    EXPECT_EQ(voice(0).target_step[0], before);
}

TEST_F(Synth, PolarityInvertedBy0x20AndResetBy0x00ButNot0x10) {
    snd_note_on(&eng, &constant, 0, 440.0f, 0);
    snd_set_effect(&eng, 0, 0, 0x20);
    EXPECT_EQ(mix()[0], -10000);
    snd_set_effect(&eng, 0, 0x13, 7);
    snd_set_effect(&eng, 0, 0, 0x10);
    EXPECT_EQ(voice(0).vibrato, 1);
    EXPECT_EQ(voice(0).effect, 0x10);
    EXPECT_EQ(mix()[0], 10000);
    snd_set_effect(&eng, 0, 0, 0x00);
    EXPECT_EQ(voice(0).vibrato, 0);
    EXPECT_EQ(voice(0).vib_depth, 0.0f);
    EXPECT_EQ(voice(0).effect, 0);
    EXPECT_EQ(voice(0).target_volume, 1.0f);
}

TEST_F(Synth, ANewEffectByteRestartsTheCounter) {
    snd_play_note(&eng, 0, 4, 0, sqr(), 0);
    snd_set_effect(&eng, 0, 0x11, 7);
    voice(0).counter = 40;
    snd_set_effect(&eng, 0, 0x11, 7);
    EXPECT_EQ(voice(0).counter, 40);
    snd_set_effect(&eng, 0, 0x12, 0x17);
    EXPECT_EQ(voice(0).counter, 0);
}

TEST_F(Synth, SumIsClippedAtMinusHalfAndPlusFullCeiling) {
    for (int v = 0; v < 4; v++) snd_note_on(&eng, &constant, v, 440.0f, 0);
    EXPECT_EQ(mix()[0], 32767);
    for (int v = 0; v < 4; v++) snd_set_effect(&eng, v, 0, 0x20);
    EXPECT_EQ(mix()[0], -16383);
    for (int v = 0; v < 4; v++) snd_set_effect(&eng, v, 0, 0);
    for (float& f : constant_data) f = 4095.0f;
    EXPECT_EQ(mix()[0], 16380); // four voices at full gain stay unclipped
}

TEST_F(Synth, MutedVoicesAreNotHeard) {
    snd_note_on(&eng, &constant, 0, 440.0f, 0);
    voice(0).enabled = 0;
    for (int16_t s : mix()) ASSERT_EQ(s, 0);
    voice(0).enabled = 1;
    EXPECT_EQ(mix()[0], 10000);
}

TEST_F(Synth, BothBanksAreMixed) {
    eng.snd_slot = 1;
    snd_note_on(&eng, &constant, 2, 440.0f, 0);
    eng.snd_slot = 0;
    snd_note_on(&eng, &constant, 0, 440.0f, 0);
    EXPECT_EQ(mix()[0], 20000);
    EXPECT_EQ(voice(2, 1).active, 1);
}

TEST_F(Synth, ResetKeepsOnlyTheMuteSwitch) {
    snd_play_note(&eng, 0, 4, 1, sqr(), 0);
    snd_set_effect(&eng, 1, 0x33, 7);
    voice(1).enabled = 0;
    snd_reset_voices(&eng, 0);
    const snd_voice& v = voice(1);
    EXPECT_EQ(v.enabled, 0);
    EXPECT_EQ(v.active, 0);
    EXPECT_EQ(v.vibrato, 0);
    EXPECT_EQ(v.sample, nullptr);
    EXPECT_EQ(v.volume, 1.0f);
    EXPECT_EQ(v.target_volume, 1.0f);
    EXPECT_EQ(v.channel_pattern, -1);
    EXPECT_EQ(voice(0).enabled, 1);
}

TEST_F(Synth, BrokenPreconditionsAreReportedAndSafe) {
    LogCapture log;
    snd_play_note(&eng, 12, 4, 0, sqr(), 0);
    snd_play_note(&eng, 0, 10, 0, sqr(), 0);
    snd_note_on(&eng, nullptr, 0, 440.0f, 0);
    snd_note_on(&eng, sqr(), 10, 440.0f, 0);
    snd_note_on(&eng, sqr(), 0, 0.0f, 0);
    snd_set_effect(&eng, -1, 0, 0);
    snd_reset_voices(&eng, 2);
    EXPECT_EQ(log.asserts(), 7);
    EXPECT_EQ(voice(0).active, 0);
    for (int16_t s : mix()) ASSERT_EQ(s, 0);
}

TEST_F(Synth, AReadPositionBeyondAShorterSampleIsReadInsideIt) {
    snd_play_note(&eng, 0, 4, 0, &song.samples[6], 0); // 100000-value noise
    voice(0).phase[0] = 54321.5f;
    voice(0).phase[1] = 99999.0f;
    voice(0).sample = &song.samples[0]; // bare change to a 10000-value sample
    mix();
    EXPECT_LT(voice(0).phase[0], 100000.0f);
    voice(0).phase[0] = 3.0e9f; // far beyond: still read inside the data
    voice(0).target_step[0] = voice(0).step[0] = 1e6f;
    mix();
}

// snd_mix runs voices in stretches that leave out the per-sample steps with nothing to do; every case here puts a
// change of stretch inside a block (a glide coming to rest, a countdown ending, an arpeggio step, a vibrato counter
// leaving the sine's range, positions outside the sample, the last voice ending so that a block is silence) and must
// give the bits and the voice state of the per-sample reference, whether a block is mixed at once or in parts.
TEST_F(Synth, StretchesMixExactlyAsTheSampleBySamplePath) {
    snd_sample* ramp = &song.samples[1];
    snd_sample* noise = &song.samples[6];
    struct Case {
        const char* name;
        int32_t arp_period;
        std::function<void()> setup;
    };
    const Case cases[] = {
        {"gain and slide glides come to rest", 551,
         [this] {
             snd_play_note(&eng, 0, 4, 0, sqr(), 0);
             voice(0).volume = 0.2f;
             voice(0).target_volume = 0.9f;
             snd_set_effect(&eng, 0, 40, 1);
             snd_play_note(&eng, 7, 2, 1, sqr(), 0);
             snd_set_effect(&eng, 1, 25, 2);
         }},
        {"slide under a fast arpeggio, inverted", 3,
         [this] {
             snd_play_note(&eng, 4, 3, 0, sqr(), 0);
             snd_set_effect(&eng, 0, 0x47, 0x23);
             snd_set_effect(&eng, 0, 60, 0x21);
             voice(0).volume = 0.0f;
         }},
        {"detuned vibrato and a deep one at a low note", 551,
         [this, ramp] {
             snd_play_note(&eng, 9, 4, 0, ramp, 0);
             snd_set_effect(&eng, 0, 12, 6);
             snd_set_effect(&eng, 0, 0x35, 7);
             snd_play_note(&eng, 0, 0, 1, sqr(), 0);
             snd_set_effect(&eng, 1, 0x0F, 7); // steps swing below zero
             voice(1).volume = 0.5f;
         }},
        {"vibrato counter leaves the sine's range", 551,
         [this, ramp] {
             snd_play_note(&eng, 2, 5, 0, ramp, 0);
             snd_set_effect(&eng, 0, 0x07, 7);
             voice(0).vib_rate = 1.0f;
             voice(0).counter = 52680000; // the table index stops converting 1326 samples on
             snd_set_effect(&eng, 1, 0, 0);
         }},
        {"countdowns and a fade end inside blocks", 551,
         [this] {
             snd_play_note(&eng, 0, 4, 0, sqr(), 0);
             snd_play_note(&eng, 5, 4, 1, sqr(), 2); // 2000 samples
             snd_play_note(&eng, 9, 3, 2, sqr(), 0);
             snd_set_effect(&eng, 2, 2, 4);
             voice(2).countdown -= 300;
         }},
        {"the last voices end inside the third block, which is silence", 551,
         [this] {
             snd_play_note(&eng, 0, 4, 0, sqr(), 3);
             snd_play_note(&eng, 3, 4, 1, sqr(), 2);
         }},
        {"positions outside the sample, both banks", 551,
         [this, noise] {
             snd_play_note(&eng, 0, 4, 0, noise, 0);
             voice(0).phase[0] = 54321.5f;
             voice(0).phase[1] = -7.0f;
             voice(0).sample = &song.samples[0];
             eng.snd_slot = 1;
             snd_play_note(&eng, 3, 9, 0, noise, 0);
             voice(0, 1).enabled = 1;
             voice(0, 1).target_step[0] = voice(0, 1).step[0] = 2.5e5f; // larger than the sample
             eng.snd_slot = 0;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int b = 0; b < 2; b++) snd_reset_voices(&eng, b);
        eng.snd_arp_period = c.arp_period;
        c.setup();
        snd_voice start[2][SND_VOICES];
        std::memcpy(start, eng.snd_voices, sizeof start);
        std::vector<int16_t> stretched, reference;
        for (int k = 0; k < 4; k++) stretched.insert(stretched.end(), block, block + (snd_mix(&eng, block), SND_BLOCK));
        snd_voice after[2][SND_VOICES];
        std::memcpy(after, eng.snd_voices, sizeof after);
        std::memcpy(eng.snd_voices, start, sizeof start);
        for (int k = 0; k < 4; k++)
            reference.insert(reference.end(), block, block + (snd_mix_per_sample(&eng, block), SND_BLOCK));
        EXPECT_EQ(stretched, reference);
        EXPECT_EQ(std::memcmp(after, eng.snd_voices, sizeof after), 0);
        EXPECT_NE(std::count(reference.begin(), reference.end(), 0), (long)reference.size());

        // The same blocks in uneven parts, as a device that asks for a little at a time gets them.
        std::memcpy(eng.snd_voices, start, sizeof start);
        std::vector<int16_t> parts;
        const int32_t sizes[] = {1, 255, 256, 257, 333};
        for (int k = 0; k < 4; k++) {
            std::fill(block, block + SND_BLOCK, (int16_t)77);
            bool heard = false;
            for (int32_t from = 0, i = 0; from < SND_BLOCK; i++) {
                const int32_t n = std::min(sizes[i % 5], SND_BLOCK - from);
                heard = snd_mix_part(&eng, block, from, n) || heard;
                from += n;
            }
            const bool silent = std::all_of(reference.begin() + k * SND_BLOCK, reference.begin() + (k + 1) * SND_BLOCK,
                                            [](int16_t v) { return v == 0; });
            EXPECT_EQ(heard, !silent) << "block " << k;
            parts.insert(parts.end(), block, block + SND_BLOCK);
        }
        EXPECT_EQ(parts, reference);
        EXPECT_EQ(std::memcmp(after, eng.snd_voices, sizeof after), 0);
    }
}

} // namespace

// The replayer's C API beyond playing a song at 22050 Hz: what it refuses and why, handles once closed, passes,
// length, seek, frame count and version, float output, the 44100 and 48000 Hz outputs and the resampler's measured
// quality, and render and position on two threads.
#include "quavlo_replay.h"
#include "quavlo_resample.h"
#include "sound.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>
#include <type_traits>
#include <vector>

static snd_engine eng; // the engine the cases build modules with

namespace {

using samples = std::vector<int16_t>;
using bytes = std::vector<uint8_t>;

bytes read_file(const char* path) {
    bytes data;
    if (FILE* f = fopen(path, "rb")) {
        for (int c; (c = fgetc(f)) != EOF;) data.push_back((uint8_t)c);
        fclose(f);
    }
    return data;
}

const bytes tune = read_file(QUAVLO_SOURCE_DIR "/examples/tune.qvl");

void cell(snd_pattern* p, int channel, int row, uint8_t flags, uint8_t note, uint8_t sample, uint8_t volume,
          uint8_t effect, uint8_t param) {
    *snd_cell_flags(p, channel, row) = flags;
    const uint8_t fields[5] = {note, sample, volume, effect, param};
    for (int f = 0; f < 5; f++) *snd_cell_field(p, channel, f, row) = fields[f];
}

// Module bytes of a song of `patterns` patterns (order list 0, 1, ...) that `fill` writes cells into.
template <class Fill> bytes make_module(uint8_t patterns, Fill fill) {
    snd_init_engine(&eng);
    snd_song song;
    snd_create_song(&eng, &song, patterns);
    for (uint8_t i = 0; i < patterns; i++) song.order[i] = i;
    fill(song);
    bytes module((size_t)snd_pack_module(&song, nullptr, 0));
    snd_pack_module(&song, module.data(), (int32_t)module.size());
    snd_free_song(&eng, &song);
    return module;
}

// Two patterns that loop along the order list: a pass is 2 + 2 * 64 * 2 blocks.
const bytes looping = make_module(2, [](snd_song& s) {
    cell(s.patterns[0], 0, 0, 0x1F, 0x40, 2, 12, 0x07, 0x35);
    cell(s.patterns[0], 1, 16, 0x07, 0x47, 6, 9, 0, 0);
    cell(s.patterns[1], 2, 0, 0x1F, 0x37, 1, 15, 0x03, 0x47);
    cell(s.patterns[1], 3, 40, 0x1F, 0x52, 7, 10, 0x21, 0x10);
});
constexpr int32_t LOOP_PASS = (2 + 2 * 64 * 2) * SND_BLOCK; // samples of looping's first pass
constexpr int32_t LOOP_MORE = 2 * 64 * 2 * SND_BLOCK;       // samples of each further pass

// After its first row the song jumps to order position 1, whose pattern jumps to itself: it never comes back.
const bytes never_back = make_module(2, [](snd_song& s) {
    cell(s.patterns[0], 0, 0, 0x07, 0x40, 0, 12, 0, 0);
    cell(s.patterns[0], 0, 1, 0x18, 0, 0, 0, 0x0D, 0x01);
    cell(s.patterns[1], 1, 63, 0x18, 0, 0, 0, 0x0D, 0x01);
});

qvl_replay* open(const bytes& module, int rate = SND_RATE, uint32_t seed = 0) {
    int error = -1;
    qvl_replay* replay = qvl_replay_open_rate(module.data(), module.size(), seed, rate, &error);
    EXPECT_NE(replay, nullptr);
    EXPECT_EQ(error, QVL_REPLAY_OK);
    return replay;
}

// Renders until `frames` are there or the song has ended, in calls of per_call frames.
template <class T> std::vector<T> render(qvl_replay* replay, size_t frames, int per_call = 4096) {
    std::vector<T> out(frames);
    size_t have = 0;
    for (int got = 1; got > 0 && have < frames; have += (size_t)got) {
        const int n = (int)std::min<size_t>((size_t)per_call, frames - have);
        if constexpr (std::is_same_v<T, float>)
            got = qvl_replay_render_f32(replay, out.data() + have, n);
        else
            got = qvl_replay_render(replay, out.data() + have, n);
    }
    out.resize(have);
    return out;
}

std::pair<int, int> position(const qvl_replay* replay) {
    std::pair<int, int> at(7, 7);
    qvl_replay_position(replay, &at.first, &at.second);
    return at;
}

TEST(ReplayApi, RefusesWhatIsNoUsableSongAndSaysWhy) {
    const struct {
        bytes module;
        int rate, error;
    } refused[] = {{{}, 22050, QVL_REPLAY_NOT_A_MODULE},
                   {{'Q', 'V', 0}, 22050, QVL_REPLAY_NOT_A_MODULE},
                   {{'X', 'V', 0, 1, 0, 0x80, 0xFF, 0}, 22050, QVL_REPLAY_NOT_A_MODULE},
                   {{'Q', 'V', 0, 5, 0, 0}, 22050, QVL_REPLAY_NOT_A_MODULE}, // order list longer than the file
                   {{'Q', 'V', 0, 0, 0x80, 0xFF, 0}, 22050, QVL_REPLAY_NO_ORDER},
                   {{'Q', 'V', 0, 0}, 48000, QVL_REPLAY_NO_ORDER},
                   {tune, 0, QVL_REPLAY_BAD_RATE},
                   {tune, 32000, QVL_REPLAY_BAD_RATE}};
    for (const auto& r : refused) {
        int error = -1;
        EXPECT_EQ(qvl_replay_open_rate(r.module.data(), r.module.size(), 0, r.rate, &error), nullptr);
        EXPECT_EQ(error, r.error) << r.module.size() << " bytes at " << r.rate;
        EXPECT_EQ(qvl_replay_open_rate(r.module.data(), r.module.size(), 0, r.rate, nullptr), nullptr);
        if (r.rate == SND_RATE) { EXPECT_EQ(qvl_replay_open(r.module.data(), r.module.size(), 0), nullptr); }
    }
    int error = -1;
    EXPECT_EQ(qvl_replay_open_rate(nullptr, 8, 0, 22050, &error), nullptr);
    EXPECT_EQ(error, QVL_REPLAY_NOT_A_MODULE);
    // Order entries naming no pattern, and no pattern at all: repaired as the tracker repairs such a module, it
    // plays silence.
    const bytes bare = {'Q', 'V', 0, 2, 3, 7};
    qvl_replay* replay = open(bare);
    EXPECT_EQ(render<int16_t>(replay, 3 * SND_BLOCK, 500), samples(3 * SND_BLOCK, 0));
    int16_t out[4];
    float out_f[4];
    EXPECT_EQ(qvl_replay_render(replay, nullptr, 10) + qvl_replay_render(replay, out, 0), 0);
    EXPECT_EQ(qvl_replay_render_f32(replay, nullptr, 10) + qvl_replay_render_f32(replay, out_f, -1), 0);
    qvl_replay_close(replay);
    EXPECT_EQ(os_alloc_count, 0); // the song, its samples and the handle's engine are gone
    EXPECT_EQ(qvl_replay_version(), QVL_REPLAY_VERSION);
}

// Every function of a handle that is not open gives its refusal and changes nothing.
void expect_refused(qvl_replay* handle) {
    int16_t out[64];
    float out_f[64];
    EXPECT_EQ(qvl_replay_render(handle, out, 64), 0);
    EXPECT_EQ(qvl_replay_render_f32(handle, out_f, 64), 0);
    EXPECT_EQ(position(handle), std::make_pair(-1, -1));
    EXPECT_EQ(qvl_replay_frames(handle), -1);
    EXPECT_EQ(qvl_replay_length(handle), -1);
    EXPECT_EQ(qvl_replay_seek(handle, 0, 0), 0);
    qvl_replay_set_passes(handle, 1);
    qvl_replay_close(handle);
}

TEST(ReplayApi, AClosedOrForeignHandleIsRefusedEvenWhereALaterSongTakesItsPlace) {
    const samples first = [] {
        qvl_replay* alone = open(tune);
        const samples s = render<int16_t>(alone, 3 * SND_BLOCK);
        qvl_replay_close(alone);
        return s;
    }();
    // Songs opened and closed one after another take the same place in the table and, often, the same memory.
    std::vector<qvl_replay*> closed;
    qvl_replay* keep = open(looping);
    for (int i = 0; i < 40; i++) {
        qvl_replay* replay = open(i % 2 ? tune : looping);
        for (qvl_replay* old : closed) {
            ASSERT_NE(old, replay);
            expect_refused(old);
        }
        EXPECT_EQ(qvl_replay_frames(replay), 0);
        if (i % 2) { EXPECT_TRUE(render<int16_t>(replay, 3 * SND_BLOCK, 333) == first) << i; }
        qvl_replay_close(replay);
        closed.push_back(replay);
    }
    // With the last song closed the table goes; handles of the songs before stay refused after it comes back.
    qvl_replay_close(keep);
    EXPECT_EQ(os_alloc_count, 0);
    qvl_replay* again = open(tune);
    for (qvl_replay* old : closed) expect_refused(old);
    expect_refused(keep);
    int local = 0;
    for (qvl_replay* foreign : {(qvl_replay*)&local, (qvl_replay*)(uintptr_t)1, (qvl_replay*)(uintptr_t)0x1000,
                                (qvl_replay*)~(uintptr_t)0, (qvl_replay*)nullptr})
        expect_refused(foreign);
    EXPECT_TRUE(render<int16_t>(again, 3 * SND_BLOCK, 7) == first) << "the refusals disturbed the open song";
    qvl_replay_close(again);

    // Many open at once (the table grows while they play), closed in a scrambled order: each plays as it plays
    // alone until it is closed, and is refused from then on.
    std::vector<qvl_replay*> open_songs;
    for (int i = 0; i < 70; i++) {
        open_songs.push_back(open(tune));
        EXPECT_EQ(render<int16_t>(open_songs.back(), SND_BLOCK, 1102),
                  samples(first.begin(), first.begin() + SND_BLOCK));
    }
    for (size_t k = 0; k < open_songs.size(); k++) {
        const size_t i = (k * 37) % open_songs.size();
        qvl_replay_close(open_songs[i]);
        expect_refused(open_songs[i]);
        const size_t j = (i + 1) % open_songs.size();
        if (k + 1 < open_songs.size() && qvl_replay_frames(open_songs[j]) == SND_BLOCK) {
            EXPECT_TRUE(render<int16_t>(open_songs[j], 2 * SND_BLOCK, 1000) ==
                        samples(first.begin() + SND_BLOCK, first.end()));
        }
    }
    EXPECT_EQ(os_alloc_count, 0);
}

TEST(ReplayApi, PassesLengthSeekAndFrameCount) {
    for (int rate : {22050, 44100, 48000}) {
        SCOPED_TRACE(rate);
        // Frames at this rate of `n` samples at 22050 Hz.
        auto at_rate = [rate](int64_t n) { return (n * rate + SND_RATE - 1) / SND_RATE; };
        qvl_replay* replay = open(looping, rate);
        EXPECT_EQ(qvl_replay_length(replay), at_rate(LOOP_PASS));
        // Looping by default, then ending after the passes asked for, counted from the open.
        EXPECT_EQ(render<int16_t>(replay, (size_t)at_rate(LOOP_PASS + LOOP_MORE / 2)).size(),
                  (size_t)at_rate(LOOP_PASS + LOOP_MORE / 2));
        qvl_replay_set_passes(replay, 2);
        EXPECT_EQ(render<int16_t>(replay, (size_t)at_rate(2 * LOOP_MORE)).size(),
                  (size_t)(at_rate(LOOP_PASS + LOOP_MORE) - at_rate(LOOP_PASS + LOOP_MORE / 2)));
        int16_t out[16];
        EXPECT_EQ(qvl_replay_render(replay, out, 16), 0);
        EXPECT_EQ(qvl_replay_frames(replay), at_rate(LOOP_PASS + LOOP_MORE));
        // A seek plays an ended song again; seek(0, 0) exactly as it first played.
        ASSERT_EQ(qvl_replay_seek(replay, 0, 0), 1);
        EXPECT_EQ(position(replay), std::make_pair(0, 0));
        for (int passes : {1, 3}) {
            qvl_replay_set_passes(replay, passes);
            const int64_t expected = at_rate(LOOP_PASS + (int64_t)(passes - 1) * LOOP_MORE);
            const samples once = render<int16_t>(replay, (size_t)expected + 5000, 777);
            EXPECT_EQ((int64_t)once.size(), expected) << passes << " passes";
            qvl_replay* fresh = open(looping, rate);
            qvl_replay_set_passes(fresh, passes);
            EXPECT_TRUE(render<int16_t>(fresh, (size_t)expected + 5000) == once) << passes << " passes";
            qvl_replay_close(fresh);
            ASSERT_EQ(qvl_replay_seek(replay, 0, 0), 1);
        }
        EXPECT_EQ(qvl_replay_frames(replay),
                  at_rate(LOOP_PASS + LOOP_MORE) + at_rate(LOOP_PASS) + at_rate(LOOP_PASS + 2 * LOOP_MORE))
            << "seeks keep the count";

        // A position outside the song is refused and changes nothing.
        qvl_replay_set_passes(replay, 0);
        qvl_replay* twin = open(looping, rate);
        EXPECT_EQ(render<int16_t>(replay, 5000), render<int16_t>(twin, 5000));
        for (auto bad : {std::make_pair(2, 0), std::make_pair(-1, 0), std::make_pair(0, 64), std::make_pair(1, -1)})
            EXPECT_EQ(qvl_replay_seek(replay, bad.first, bad.second), 0);
        EXPECT_EQ(render<int16_t>(replay, 5000), render<int16_t>(twin, 5000));
        qvl_replay_close(twin);

        // From row 10 of order position 1: the row sounds two blocks after the seek, the next one two later.
        ASSERT_EQ(qvl_replay_seek(replay, 1, 10), 1);
        EXPECT_EQ(position(replay), std::make_pair(1, 10));
        render<int16_t>(replay, (size_t)at_rate(4 * SND_BLOCK + 1));
        EXPECT_EQ(position(replay), std::make_pair(1, 11));
        qvl_replay_close(replay);

        // A song that never comes back to its start has no length, and plays on.
        qvl_replay* endless = open(never_back, rate);
        EXPECT_EQ(qvl_replay_length(endless), -1);
        qvl_replay_set_passes(endless, 1);
        EXPECT_EQ(render<int16_t>(endless, (size_t)at_rate(LOOP_PASS * 3)).size(), (size_t)at_rate(LOOP_PASS * 3));
        qvl_replay_close(endless);
    }
    EXPECT_EQ(os_alloc_count, 0);
}

TEST(ReplayApi, FloatsAndTheResampledRatesFollowTheTrackersSamples) {
    // The tune stops itself after 256 blocks; the position after each of them.
    constexpr size_t most = 300000;
    qvl_replay* native = open(tune, SND_RATE, 321);
    std::vector<std::pair<int, int>> block_positions;
    samples ref;
    for (samples block; (block = render<int16_t>(native, SND_BLOCK)).size() > 0;) {
        ref.insert(ref.end(), block.begin(), block.end());
        block_positions.push_back(position(native));
    }
    ASSERT_LT(ref.size(), most);
    ASSERT_EQ((long)ref.size(), qvl_replay_length(native));
    ASSERT_EQ(qvl_replay_seek(native, 0, 0), 1);
    const std::vector<float> ref_f = render<float>(native, most, 999);
    ASSERT_EQ(ref_f.size(), ref.size());
    for (size_t i = 0; i < ref.size(); i++) ASSERT_EQ(ref_f[i], ref[i] / 32768.0f) << i;
    qvl_replay_close(native);

    for (int rate : {44100, 48000}) {
        SCOPED_TRACE(rate);
        // Output frame k lies at input instant k * 22050 / rate: where that is a whole sample, the frame is it.
        const int64_t expected = ((int64_t)ref.size() * rate + SND_RATE - 1) / SND_RATE;
        const int in_step = rate == 44100 ? 1 : 147, out_step = rate == 44100 ? 2 : 320;
        qvl_replay* replay = open(tune, rate, 321);
        EXPECT_EQ(qvl_replay_length(replay), expected);
        samples out;
        for (int per_call : {1, 7, 1102, 4096}) {
            SCOPED_TRACE(per_call);
            ASSERT_EQ(qvl_replay_seek(replay, 0, 0), 1);
            const int64_t frames_before = qvl_replay_frames(replay);
            samples got;
            // After every call the position is the one of the input sample under the last frame's instant.
            for (int n = 1; n > 0;) {
                got.resize(got.size() + (size_t)per_call);
                n = qvl_replay_render(replay, got.data() + got.size() - per_call, per_call);
                got.resize(got.size() - (size_t)(per_call - n));
                if (n > 0) {
                    const int64_t sample = ((int64_t)got.size() - 1) * in_step / out_step;
                    ASSERT_LT(sample, (int64_t)ref.size());
                    ASSERT_EQ(position(replay), block_positions[(size_t)sample / SND_BLOCK]) << "frame " << got.size();
                }
            }
            if (out.empty()) out = got;
            EXPECT_TRUE(got == out) << "the calls' sizes changed frames";
            EXPECT_EQ(qvl_replay_frames(replay) - frames_before, (int64_t)got.size());
        }
        EXPECT_EQ((int64_t)out.size(), expected);
        for (size_t k = 0; k < out.size(); k += (size_t)out_step)
            ASSERT_EQ(out[k], ref[k / (size_t)out_step * (size_t)in_step]) << "frame " << k;
        // Floats are the same frames before rounding.
        ASSERT_EQ(qvl_replay_seek(replay, 0, 0), 1);
        const std::vector<float> floats = render<float>(replay, out.size() + 100);
        ASSERT_EQ(floats.size(), out.size());
        for (size_t k = 0; k < out.size(); k++) {
            ASSERT_LE(std::fabs(floats[k] * 32768.0f - out[k]), 0.5f) << k;
            ASSERT_LE(std::fabs(floats[k]), 1.0f);
        }
        qvl_replay_close(replay);
    }
    EXPECT_EQ(os_alloc_count, 0);
}

constexpr double pi = 3.14159265358979323846;

// The filter's response to a tone: the amplitude of the output at frequency f (Goertzel over whole periods).
double amplitude(const std::vector<float>& y, size_t from, size_t n, double f, double rate) {
    const double w = 2 * pi * f / rate, c = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (size_t i = 0; i < n; i++) {
        const double s0 = y[from + i] + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return std::sqrt(s1 * s1 + s2 * s2 - c * s1 * s2) * 2 / (double)n;
}

TEST(ReplayResampler, PassBandFlatTo10kHzAndImagesAtLeast90dBDown) {
    for (int rate : {44100, 48000}) {
        double ripple = 0, rejection = 1e9, rejection_at = 0;
        // Tones of whole hertz and one second of output: the tone and its images fall on whole DFT bins.
        for (double f = 100; f <= 10000; f += f < 9000 ? 250 : 50) {
            qvl_resampler r;
            ASSERT_TRUE(qvl_resample_init(&r, rate));
            std::vector<float> y;
            int64_t n = 0;
            while (y.size() < (size_t)rate * 2) {
                while (r.first + r.held < qvl_resample_needed(&r)) {
                    int32_t room = 0;
                    float* to = qvl_resample_room(&r, &room);
                    for (int32_t i = 0; i < room; i++, n++)
                        to[i] = (float)(10000.0 * std::sin(2 * pi * f * n / SND_RATE));
                    qvl_resample_append(&r, room);
                }
                y.push_back(qvl_resample_frame(&r));
            }
            qvl_resample_free(&r);
            // The second second: the filter has long settled.
            const double gain = amplitude(y, (size_t)rate, (size_t)rate, f, rate) / 10000.0;
            ripple = std::max(ripple, std::fabs(20 * std::log10(gain)));
            for (double image : {SND_RATE - f, SND_RATE + f, 2.0 * SND_RATE - f}) {
                if (image >= rate / 2.0) continue;
                const double level = amplitude(y, (size_t)rate, (size_t)rate, image, rate);
                const double db = 20 * std::log10(gain * 10000.0 / level);
                if (db < rejection) rejection = db, rejection_at = f;
            }
        }
        printf("resampler to %d Hz: pass band 100 Hz - 10 kHz within +-%.5f dB; images at least %.1f dB down (the "
               "least for a %.0f Hz tone)\n",
               rate, ripple, rejection, rejection_at);
        EXPECT_LT(ripple, 0.001) << rate;
        EXPECT_GT(rejection, 90.0) << rate;
    }
    EXPECT_EQ(os_alloc_count, 0);
}

TEST(ReplayApi, RenderOnOneThreadWhilePositionAndOtherSongsRunOnAnother) {
    qvl_replay* replay = open(tune, 48000);
    const long length = qvl_replay_length(replay);
    std::atomic<bool> done{false};
    std::thread audio([&] {
        float block[512];
        while (qvl_replay_render_f32(replay, block, 512) > 0) {}
        done = true;
    });
    int64_t last = 0;
    int checks = 0;
    while (!done) {
        // Opens and closes of other songs while this one renders.
        qvl_replay* jingle = open(looping);
        int16_t out[100];
        EXPECT_EQ(qvl_replay_render(jingle, out, 100), 100);
        qvl_replay_close(jingle);
        const auto at = position(replay);
        EXPECT_TRUE(at.first >= 0 && at.first < 256 && at.second >= 0 && at.second < 64);
        const int64_t frames = qvl_replay_frames(replay);
        EXPECT_GE(frames, last);
        EXPECT_EQ(qvl_replay_length(replay), length);
        last = frames;
        checks++;
    }
    audio.join();
    EXPECT_EQ(qvl_replay_frames(replay), length);
    EXPECT_GT(checks, 0);
    qvl_replay_close(replay);
    EXPECT_EQ(os_alloc_count, 0);
}

} // namespace

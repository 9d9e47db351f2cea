// The replayer's C API beyond playing: what it refuses.
#include "quavlo_replay.h"
#include "sound.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using samples = std::vector<int16_t>;

const std::vector<uint8_t> tune = [] {
    std::vector<uint8_t> bytes;
    if (FILE* f = fopen(QUAVLO_SOURCE_DIR "/examples/tune.qvl", "rb")) {
        for (int c; (c = fgetc(f)) != EOF;) bytes.push_back((uint8_t)c);
        fclose(f);
    }
    return bytes;
}();

samples render(qvl_replay* replay, size_t frames, int per_call) {
    samples out(frames);
    size_t have = 0;
    for (int got = 1; got > 0 && have < frames; have += (size_t)got)
        got = qvl_replay_render(replay, out.data() + have, (int)std::min<size_t>(per_call, frames - have));
    out.resize(have);
    return out;
}

TEST(ReplayApi, RefusesWhatIsNoUsableSongAndAClosedHandle) {
    const std::vector<std::vector<uint8_t>> refused = {{},
                                                       {'Q', 'V'},
                                                       {'Q', 'V', 0},
                                                       {'Q', 'V', 0, 0, 0x80, 0xFF, 0},
                                                       {'X', 'V', 0, 1, 0, 0x80, 0xFF, 0},
                                                       {'Q', 'V', 0, 5, 0, 0}};
    for (const auto& b : refused) EXPECT_EQ(qvl_replay_open(b.data(), b.size(), 0), nullptr) << b.size();
    EXPECT_EQ(qvl_replay_open(nullptr, 8, 0), nullptr);
    // Order entries naming no pattern, and no pattern at all: repaired as the tracker repairs such a module, it
    // plays silence.
    const uint8_t bare[] = {'Q', 'V', 0, 2, 3, 7};
    qvl_replay* replay = qvl_replay_open(bare, sizeof bare, 0);
    EXPECT_EQ(render(replay, 3 * SND_BLOCK, 500), samples(3 * SND_BLOCK, 0));
    int16_t out[4];
    EXPECT_EQ(qvl_replay_render(replay, nullptr, 10) + qvl_replay_render(replay, out, 0), 0);
    qvl_replay_close(replay);
    // Closed, the handle is no longer served, and closing it again frees nothing twice.
    int order = 7, row = 7;
    EXPECT_EQ(qvl_replay_render(replay, out, 4), 0);
    qvl_replay_position(replay, &order, &row);
    EXPECT_EQ(std::make_pair(order, row), std::make_pair(-1, -1));
    qvl_replay_close(replay);
    EXPECT_EQ(os_alloc_count, 0); // the song, its samples and the handle's engine are gone
}

} // namespace

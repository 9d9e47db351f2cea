// The replayer's C API on its own: one song at a time, what it refuses, the position through speed changes, jumps
// and a stop, silence on stdout and stderr, a failed open instead of an exit when memory runs out, render and
// position on two threads, and endless play.
#include "quavlo_replay.h"
#include "sound.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

// A song made with the engine's own editing functions and packed as module bytes.
struct song_maker {
    snd_song song{};
    explicit song_maker(uint8_t patterns) {
        sound_amplitude = 32767;
        snd_create_song(&song, patterns);
    }
    ~song_maker() { snd_free_song(&song); }
    void cell(int pattern, int channel, int row, uint8_t flags, std::vector<uint8_t> fields) {
        snd_pattern* p = song.patterns[pattern];
        *snd_cell_flags(p, channel, row) = flags;
        for (int f = 0; f < 5; f++) *snd_cell_field(p, channel, f, row) = fields[(size_t)f];
    }
    bytes module() const {
        bytes out((size_t)snd_pack_module(&song, nullptr, 0));
        snd_pack_module(&song, out.data(), (int32_t)out.size());
        return out;
    }
};

// A looping pattern with a note in every channel, the noise sample among them.
bytes looping_module() {
    song_maker m(1);
    for (int c = 0; c < 4; c++) m.cell(0, c, c * 8, 0x03, {(uint8_t)(0x40 + c * 3), (uint8_t)(c * 2), 0, 0, 0});
    return m.module();
}

std::vector<int16_t> render_all(qvl_replay* replay, size_t frames, int per_call) {
    std::vector<int16_t> out(frames);
    size_t have = 0;
    while (have < frames) {
        const int got = qvl_replay_render(replay, out.data() + have, (int)std::min<size_t>(per_call, frames - have));
        if (got == 0) break;
        have += (size_t)got;
    }
    out.resize(have);
    return out;
}

std::vector<int16_t> render_song(const bytes& module, size_t frames) {
    qvl_replay* replay = qvl_replay_open(module.data(), module.size(), 0);
    EXPECT_NE(replay, nullptr);
    std::vector<int16_t> out = render_all(replay, frames, 4096);
    qvl_replay_close(replay);
    return out;
}

TEST(ReplayApi, OneSongAtATimeAndAClosedHandleIsRefused) {
    const bytes module = looping_module();
    const std::vector<int16_t> alone = render_song(module, 20000);

    qvl_replay* first = qvl_replay_open(module.data(), module.size(), 0);
    ASSERT_NE(first, nullptr);
    std::vector<int16_t> played = render_all(first, 9000, 1000);
    // A second open while the first plays is refused and leaves the first undisturbed.
    const bytes other = {'Q', 'V', 0, 1, 0, 0x80, 0xFF, 0};
    EXPECT_EQ(qvl_replay_open(other.data(), other.size(), 99), nullptr);
    const std::vector<int16_t> rest = render_all(first, 11000, 1000);
    played.insert(played.end(), rest.begin(), rest.end());
    EXPECT_EQ(played, alone);
    qvl_replay_close(first);

    // Closed, the handle is no longer served; closing it again changes nothing.
    int16_t sample[4] = {1, 2, 3, 4};
    int order = 7, row = 7;
    EXPECT_EQ(qvl_replay_render(first, sample, 4), 0);
    qvl_replay_position(first, &order, &row);
    EXPECT_EQ(order, -1);
    EXPECT_EQ(row, -1);
    qvl_replay_close(first);
    qvl_replay_close(nullptr);

    qvl_replay* second = qvl_replay_open(module.data(), module.size(), 0);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(render_all(second, 20000, 20000), alone);
    EXPECT_EQ(qvl_replay_render(second, nullptr, 10), 0);
    EXPECT_EQ(qvl_replay_render(second, sample, 0), 0);
    EXPECT_EQ(qvl_replay_render(second, sample, -5), 0);
    qvl_replay_close(second);
    EXPECT_EQ(os_alloc_count, 0);
    EXPECT_EQ(snd_live_samples, 0);
}

TEST(ReplayApi, BytesThatAreNoUsableModuleOpenNothingAndLeakNothing) {
    const bytes good = {'Q', 'V', 0, 1, 0, 0x80, 0xFF, 0};
    EXPECT_EQ(qvl_replay_open(nullptr, 8, 0), nullptr);
    EXPECT_EQ(qvl_replay_open(good.data(), 0, 0), nullptr);
    const std::vector<bytes> unusable = {
        {'Q', 'V'},                         // no order-list length
        {'Q', 'V', 0},                      // half of it
        {'Q', 'V', 0, 0, 0x80, 0xFF, 0},    // no order entry
        {'X', 'V', 0, 1, 0, 0x80, 0xFF, 0}, // not a module
        {'Q', 'V', 0, 5, 0, 0},             // order list longer than the bytes
    };
    for (const bytes& b : unusable) EXPECT_EQ(qvl_replay_open(b.data(), b.size(), 0), nullptr) << b.size();
    EXPECT_EQ(os_alloc_count, 0);
    EXPECT_EQ(snd_live_samples, 0);

    // Order entries that name no pattern, and no pattern at all: repaired to one empty pattern, it plays silence.
    const bytes bare = {'Q', 'V', 0, 2, 3, 7};
    qvl_replay* replay = qvl_replay_open(bare.data(), bare.size(), 0);
    ASSERT_NE(replay, nullptr);
    const std::vector<int16_t> out = render_all(replay, 3 * SND_BLOCK, 500);
    EXPECT_EQ(out, std::vector<int16_t>(3 * SND_BLOCK, 0));
    qvl_replay_close(replay);
    EXPECT_EQ(os_alloc_count, 0);
}

TEST(ReplayApi, PositionThroughSpeedChangesJumpsAndTheStop) {
    song_maker m(2);
    snd_insert_order(&m.song, 2);
    m.song.order[1] = m.song.order[2] = 1;
    m.cell(0, 0, 0, 0x18, {0, 0, 0, 0x0F, 0x03}); // speed 3
    m.cell(0, 1, 2, 0x18, {0, 0, 0, 0x0B, 10});   // on at row 10
    m.cell(0, 0, 12, 0x18, {0, 0, 0, 0x0D, 2});   // on at order position 2, whose pattern is 1
    m.cell(1, 0, 0, 0x18, {0, 0, 0, 0x0F, 0x01}); // speed 1
    m.cell(1, 2, 3, 0x18, {0, 0, 0, 0x08, 0});    // stop
    const bytes module = m.module();
    // Per mixed block: order position and row. The first row comes two blocks after the start; the jump to order
    // position 2 shows from the row that asked for it, as the player keeps it; the stop's row is never mixed.
    struct span {
        int blocks, order, row;
    };
    const span timeline[] = {{5, 0, 0},  {3, 0, 1}, {3, 0, 2}, {3, 0, 10}, {3, 0, 11},
                             {3, 2, 12}, {1, 2, 0}, {1, 2, 1}, {1, 2, 2}};
    std::vector<std::pair<int, int>> expected;
    for (const span& s : timeline)
        for (int b = 0; b < s.blocks * SND_BLOCK; b++) expected.emplace_back(s.order, s.row);

    for (int per_call : {1, 7, 1102, 4096}) {
        qvl_replay* replay = qvl_replay_open(module.data(), module.size(), 0);
        ASSERT_NE(replay, nullptr);
        std::pair<int, int> now{-1, -1};
        qvl_replay_position(replay, &now.first, &now.second);
        EXPECT_EQ(now, std::make_pair(0, 0));
        std::vector<int16_t> buffer((size_t)per_call);
        size_t total = 0;
        for (int got; (got = qvl_replay_render(replay, buffer.data(), per_call)) > 0;) {
            total += (size_t)got;
            ASSERT_LE(total, expected.size());
            qvl_replay_position(replay, &now.first, &now.second);
            ASSERT_EQ(now, expected[total - 1]) << "after sample " << total << ", " << per_call << " per call";
        }
        EXPECT_EQ(total, expected.size()) << per_call << " per call";
        qvl_replay_close(replay);
    }
}

// Everything written to stdout and stderr while `work` runs.
template <class F> std::string printed_during(F work) {
    fflush(stdout);
    fflush(stderr);
    FILE* sink = tmpfile();
    const int saved_out = dup(1), saved_err = dup(2);
    dup2(fileno(sink), 1);
    dup2(fileno(sink), 2);
    work();
    fflush(stdout);
    fflush(stderr);
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
    std::string text;
    rewind(sink);
    for (int c; (c = fgetc(sink)) != EOF;) text += (char)c;
    fclose(sink);
    return text;
}

TEST(ReplayApi, PrintsNothingEvenWhenTheEngineAsserts) {
    song_maker m(1);
    m.cell(0, 0, 0, 0x07, {0x4C, 2, 15, 0, 0});   // semitone 12: no such note
    m.cell(0, 1, 0, 0x03, {0x40, 9, 0, 0, 0});    // sample 9: no such sample
    m.cell(0, 2, 0, 0x07, {0x40, 2, 0xEE, 0, 0}); // volume above 15
    const bytes module = m.module();
    const std::string text = printed_during([&] {
        qvl_replay* replay = qvl_replay_open(module.data(), module.size(), 0);
        EXPECT_NE(replay, nullptr);
        EXPECT_EQ(render_all(replay, 5 * SND_BLOCK, 4096).size(), 5u * SND_BLOCK);
        qvl_replay_close(replay);
    });
    EXPECT_EQ(text, "");
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Lets the process map only `room` bytes more address space than it has now. Reads without stdio, which would
// allocate.
void limit_address_space(rlim_t room) {
    char text[64] = {};
    const int fd = open("/proc/self/statm", O_RDONLY);
    if (fd >= 0) {
        if (read(fd, text, sizeof text - 1) < 0) text[0] = 0;
        close(fd);
    }
    const rlim_t in_use = (rlim_t)strtoul(text, nullptr, 10) * (rlim_t)sysconf(_SC_PAGESIZE);
    // Only the soft limit moves, so that it can be raised again.
    rlimit limit = {};
    if (in_use == 0 || getrlimit(RLIMIT_AS, &limit) != 0) return;
    limit.rlim_cur = in_use + room;
    setrlimit(RLIMIT_AS, &limit);
}

void* volatile heap_hog; // chain of the blocks that took the heap's free space

// Takes every block the heap can still hand out, so that only new address space is left for what follows.
void exhaust_heap() {
    for (size_t size = (size_t)1 << 20; size >= 16; size /= 2)
        while (void** block = (void**)malloc(size)) {
            *block = heap_hog;
            heap_hog = block;
        }
}
#endif

TEST(ReplayApi, RunningOutOfMemoryFailsTheOpenInsteadOfEndingTheProgram) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than a limit can leave";
#else
    const bytes module = looping_module();
    const int32_t blocks_before = os_alloc_count;
    int failed = 0, opened = 0;
    // From no room at all to plenty: every open either fails cleanly or plays, and leaves no block behind.
    for (rlim_t room = 0; room <= (rlim_t)1536 << 10; room += 32 << 10) {
        fflush(nullptr);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            limit_address_space(0);
            exhaust_heap();
            limit_address_space(room);
            qvl_replay* replay = qvl_replay_open(module.data(), module.size(), 0);
            int16_t block[SND_BLOCK];
            const bool played = replay && qvl_replay_render(replay, block, SND_BLOCK) == SND_BLOCK;
            qvl_replay_close(replay);
            _exit(os_alloc_count != blocks_before || snd_live_samples != 0 ? 3 : replay ? (played ? 4 : 5) : 6);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "room " << room;
        const int code = WEXITSTATUS(status);
        ASSERT_TRUE(code == 4 || code == 6) << "exit " << code << " with room " << room;
        (code == 6 ? failed : opened)++;
    }
    EXPECT_GT(failed, 0);
    EXPECT_GT(opened, 0);
#endif
}

TEST(ReplayApi, RenderOnTheAudioThreadWhileAnotherReadsThePosition) {
    const bytes module = looping_module();
    const std::vector<int16_t> alone = render_song(module, 300 * SND_BLOCK);
    qvl_replay* replay = qvl_replay_open(module.data(), module.size(), 0);
    ASSERT_NE(replay, nullptr);
    std::vector<int16_t> played;
    std::atomic<bool> done{false};
    std::thread audio([&] {
        played = render_all(replay, 300 * SND_BLOCK, 512);
        done = true;
    });
    int rows_seen = 0, last_row = -1;
    while (!done) {
        int order = -1, row = -1;
        qvl_replay_position(replay, &order, &row);
        EXPECT_EQ(order, 0);
        EXPECT_TRUE(row >= 0 && row < SND_ROWS) << row;
        rows_seen += row != last_row;
        last_row = row;
    }
    audio.join();
    qvl_replay_close(replay);
    EXPECT_EQ(played, alone);
    EXPECT_GT(rows_seen, 0);
}

TEST(ReplayApi, EndlessPlayKeepsTheBlockClockFromOverflowing) {
    const bytes module = looping_module();
    const std::vector<int16_t> expected = render_song(module, 400 * SND_BLOCK);
    qvl_replay* replay = qvl_replay_open(module.data(), module.size(), 0);
    ASSERT_NE(replay, nullptr);
    std::vector<int16_t> played = render_all(replay, 100 * SND_BLOCK, SND_BLOCK);
    // Three years on: the clock and the row's start stand just below the largest count, as they would then.
    const int32_t ahead = INT32_MAX - 10 - audio_blocks;
    audio_blocks += ahead;
    snd_players[0]->row_time += ahead;
    const std::vector<int16_t> rest = render_all(replay, 300 * SND_BLOCK, 777);
    played.insert(played.end(), rest.begin(), rest.end());
    EXPECT_TRUE(audio_blocks > 0 && audio_blocks < 1 << 30) << audio_blocks;
    qvl_replay_close(replay);
    EXPECT_EQ(played, expected);
}

} // namespace

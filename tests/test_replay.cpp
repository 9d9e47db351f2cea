// The replayer against quavlo-cli render: the same samples, byte for byte, for every reference song, the benchmark
// song and the examples' tune, however the render is split into calls; a song that stops itself ends at the same
// sample; the reported position is the player's at every row change. The example programs, built on the exported
// tune.h, write the same samples.
#include "quavlo_replay.h"
#include "sound.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<uint8_t>;

const fs::path shared_dir = fs::path(QUAVLO_SOURCE_DIR) / ".." / "shared";
const fs::path tune_module = fs::path(QUAVLO_SOURCE_DIR) / "examples" / "tune.qvl";
constexpr int per_call_sizes[] = {1, 7, 1102, 4096};

bytes read_file(const fs::path& path) {
    bytes data;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        for (int c; (c = fgetc(f)) != EOF;) data.push_back((uint8_t)c);
        fclose(f);
    }
    return data;
}

// Little-endian 16-bit samples from byte `from` on: 44 for a WAV file, 0 for raw audio.
std::vector<int16_t> samples_of(const bytes& data, size_t from) {
    std::vector<int16_t> s;
    for (size_t i = from; i + 1 < data.size(); i += 2) s.push_back((int16_t)(data[i] | data[i + 1] << 8));
    return s;
}

// A scratch file name in the temporary directory, removed with the object.
struct scratch {
    fs::path path;
    explicit scratch(const std::string& name)
        : path(fs::temp_directory_path() / ("quavlo-replay-" + std::to_string(getpid()) + "-" + name)) {}
    ~scratch() { fs::remove(path); }
};

int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The whole WAV file of a gapless `quavlo-cli render --passes 1000 --seconds S --clock C`.
bytes cli_render(const fs::path& module, double seconds, uint32_t clock) {
    scratch out("cli.wav");
    const std::string command = std::string(QUAVLO_CLI) + " render '" + module.string() + "' '" + out.path.string() +
                                "' --passes 1000 --seconds " + std::to_string(seconds) + " --clock " +
                                std::to_string(clock);
    EXPECT_EQ(run(command), 0) << command;
    return read_file(out.path);
}

// Renders through the replayer in calls of per_call frames until `want` frames are there or the song stops, and
// checks that a song that stopped gives nothing more.
std::vector<int16_t> replay_render(const bytes& module, uint32_t seed, size_t want, int per_call) {
    qvl_replay* replay = qvl_replay_open(module.data(), module.size(), seed);
    EXPECT_NE(replay, nullptr);
    std::vector<int16_t> out(want), spare((size_t)per_call);
    size_t have = 0;
    while (replay && have < want) {
        const int ask = (int)std::min<size_t>((size_t)per_call, want - have);
        const int got = qvl_replay_render(replay, out.data() + have, ask);
        have += (size_t)got;
        if (got < ask) {
            EXPECT_EQ(qvl_replay_render(replay, spare.data(), per_call), 0);
            break;
        }
    }
    qvl_replay_close(replay);
    out.resize(have);
    return out;
}

// Compares the replayer's output with quavlo-cli's for one module, in every call size. Returns whether the song
// stopped itself before the time was up.
bool expect_same_as_cli(const fs::path& module, double seconds, uint32_t clock) {
    SCOPED_TRACE(module.filename().string() + " clock " + std::to_string(clock));
    const std::vector<int16_t> expected = samples_of(cli_render(module, seconds, clock), 44);
    const size_t limit = (size_t)std::ceil(seconds * SND_RATE / SND_BLOCK) * SND_BLOCK;
    const bool stopped = expected.size() < limit;
    const bytes data = read_file(module);
    for (int per_call : per_call_sizes) {
        // One call's worth more than the CLI wrote: a song that plays on must give it, one that stopped must not.
        const std::vector<int16_t> got = replay_render(data, clock, expected.size() + (size_t)per_call, per_call);
        EXPECT_EQ(got.size(), stopped ? expected.size() : expected.size() + (size_t)per_call) << per_call;
        const size_t common = std::min(got.size(), expected.size());
        size_t first = 0;
        while (first < common && got[first] == expected[first]) first++;
        EXPECT_EQ(first, common) << "first difference at sample " << first << " with " << per_call << " per call";
    }
    return stopped;
}

std::vector<fs::path> reference_modules() {
    std::vector<fs::path> modules;
    for (const auto& e : fs::directory_iterator(shared_dir / "reference")) {
        const std::string name = e.path().filename().string();
        if (e.path().extension() == ".qvl" && name.find(".repack.") == std::string::npos) modules.push_back(e.path());
    }
    std::sort(modules.begin(), modules.end());
    return modules;
}

TEST(ReplayBitExact, EveryReferenceSongInEveryCallSize) {
    if (!fs::is_directory(shared_dir / "reference")) GTEST_SKIP() << "no reference songs beside the repository";
    int stopped = 0;
    const std::vector<fs::path> modules = reference_modules();
    ASSERT_FALSE(modules.empty());
    for (const fs::path& module : modules) stopped += expect_same_as_cli(module, 30, 0);
    // The noise sample follows the seed: the clock values the reference renders were checked with.
    for (uint32_t clock : {1234u, 66770u}) expect_same_as_cli(shared_dir / "reference" / "mus_samples.qvl", 30, clock);
    EXPECT_GT(stopped, 0) << "no reference song stopped itself";
}

TEST(ReplayBitExact, BenchmarkSongAcrossItsLoop) {
    const fs::path bench = shared_dir / "bench" / "bench_song.qvl";
    if (!fs::exists(bench)) GTEST_SKIP() << "no benchmark song beside the repository";
    // 127.9 s a pass: 130 s include the wrap to the first order position.
    EXPECT_FALSE(expect_same_as_cli(bench, 130, 0));
}

TEST(ReplayBitExact, TuneStopsItselfAtTheSameSample) { EXPECT_TRUE(expect_same_as_cli(tune_module, 60, 4321)); }

// The player's order position and row after each block's tick, driven as quavlo-cli drives it.
std::vector<std::pair<int, int>> player_positions(const bytes& module, int32_t blocks) {
    sound_amplitude = 32767;
    snd_ready_players();
    audio_blocks = 0;
    snd_song song = snd_unpack_module(module.data(), (int32_t)module.size());
    snd_repair_song(&song);
    song.order_pos = 0;
    snd_play_song(&song);
    std::vector<std::pair<int, int>> positions;
    for (; audio_blocks < blocks; audio_blocks++) {
        if (snd_players[0] == &song) snd_tick(&song, 0);
        if (song.state == 0) break;
        positions.emplace_back(song.order_pos, song.row);
    }
    snd_free_song(&song);
    return positions;
}

// After every call the position is the one the player had for the block of the last sample handed out.
void expect_positions_follow_player(const fs::path& path, int32_t blocks) {
    SCOPED_TRACE(path.filename().string());
    const bytes module = read_file(path);
    const std::vector<std::pair<int, int>> expected = player_positions(module, blocks);
    for (int per_call : per_call_sizes) {
        qvl_replay* replay = qvl_replay_open(module.data(), module.size(), 0);
        ASSERT_NE(replay, nullptr);
        std::vector<int16_t> buffer((size_t)per_call);
        const size_t end = expected.size() * SND_BLOCK;
        size_t total = 0;
        int changes = 0;
        std::pair<int, int> last{-1, -1};
        while (total < end) {
            const int got =
                qvl_replay_render(replay, buffer.data(), (int)std::min<size_t>((size_t)per_call, end - total));
            if (got == 0) break;
            total += (size_t)got;
            std::pair<int, int> now;
            qvl_replay_position(replay, &now.first, &now.second);
            ASSERT_EQ(now, expected[(total - 1) / SND_BLOCK])
                << "after sample " << total << ", " << per_call << " per call";
            changes += now != last;
            last = now;
        }
        qvl_replay_close(replay);
        EXPECT_EQ(total, end);
        EXPECT_GT(changes, 20);
    }
}

TEST(ReplayPosition, FollowsThePlayerAtEveryRowChange) {
    expect_positions_follow_player(tune_module, 2000);
    if (!fs::is_directory(shared_dir / "reference")) GTEST_SKIP() << "no reference songs beside the repository";
    // Speed changes, row and order jumps, channel pins and a stop.
    expect_positions_follow_player(shared_dir / "reference" / "mus_override.qvl", 2000);
    if (fs::exists(shared_dir / "bench" / "bench_song.qvl"))
        expect_positions_follow_player(shared_dir / "bench" / "bench_song.qvl", 2700);
}

TEST(ReplayExamples, RenderHeaderWritesTheCliRenderOfTheExportedTune) {
    const bytes expected = cli_render(tune_module, 600, 0);
    ASSERT_GT(expected.size(), 44u);
    for (int per_call : per_call_sizes) {
        scratch out("example.wav");
        const std::string command =
            std::string(QUAVLO_RENDER_HEADER) + " '" + out.path.string() + "' 600 " + std::to_string(per_call);
        ASSERT_EQ(run(command), 0) << command;
        EXPECT_TRUE(read_file(out.path) == expected) << per_call << " per call";
    }
}

#ifdef QUAVLO_PLAY_HEADER
// SDL's disk audio driver writes what the callback produced to a file, as fast as the program fills it.
TEST(ReplayExamples, PlayHeaderPlaysTheTuneThroughTheAudioCallback) {
    const std::vector<int16_t> expected = samples_of(cli_render(tune_module, 600, 0), 44);
    scratch raw("played.raw");
    const std::string command = "SDL_AUDIODRIVER=disk SDL_DISKAUDIODELAY=0 SDL_DISKAUDIOFILE='" + raw.path.string() +
                                "' " + QUAVLO_PLAY_HEADER + " >/dev/null 2>&1";
    ASSERT_EQ(run(command), 0) << command;
    const std::vector<int16_t> samples = samples_of(read_file(raw.path), 0);
    ASSERT_GE(samples.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), samples.begin()));
    // After the song has stopped itself the callback fills silence.
    EXPECT_TRUE(std::all_of(samples.begin() + (long)expected.size(), samples.end(), [](int16_t s) { return s == 0; }));
}
#endif

} // namespace

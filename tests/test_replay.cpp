// The replayer against quavlo-cli render: the same samples, byte for byte, for every reference song, the benchmark
// song and the examples' tune, however the render is split into calls; a song that stops itself ends at the same
// sample; after every call the position is the player's. The example programs write the same samples.
#include "quavlo_replay.h"
#include "sound.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

static snd_engine eng; // the engine the cases play with

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<uint8_t>;
using samples = std::vector<int16_t>;

const fs::path shared_dir = fs::path(QUAVLO_SOURCE_DIR) / ".." / "shared";
const fs::path tune = fs::path(QUAVLO_SOURCE_DIR) / "examples" / "tune.qvl";
constexpr int per_call_sizes[] = {1, 7, 1102, 4096};

// Reads and removes a file the test had written, or reads a module.
bytes read_file(const fs::path& path, bool remove = false) {
    bytes data;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        for (int c; (c = fgetc(f)) != EOF;) data.push_back((uint8_t)c);
        fclose(f);
    }
    if (remove) fs::remove(path);
    return data;
}

fs::path scratch(const std::string& name) {
    return fs::temp_directory_path() / ("quavlo-replay-" + std::to_string(getpid()) + "-" + name);
}

// Little-endian 16-bit samples from byte `from` on: 44 for a WAV file, 0 for raw audio.
samples samples_of(const bytes& data, size_t from) {
    samples s;
    for (size_t i = from; i + 1 < data.size(); i += 2) s.push_back((int16_t)(data[i] | data[i + 1] << 8));
    return s;
}

bool run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The whole WAV file of a gapless `quavlo-cli render --passes P --seconds S --clock C`.
bytes cli_render(const fs::path& module, double seconds, uint32_t clock, int passes = 1000) {
    const fs::path out = scratch("cli.wav");
    EXPECT_TRUE(run(std::string(QUAVLO_CLI) + " render '" + module.string() + "' " + out.string() + " --passes " +
                    std::to_string(passes) + " --seconds " + std::to_string(seconds) + " --clock " +
                    std::to_string(clock)));
    return read_file(out, true);
}

using positions = std::vector<std::pair<int, int>>;

// The player's order position and row for each block, after its tick, driven as quavlo-cli drives it.
positions player_positions(const bytes& module, size_t blocks) {
    positions player;
    eng.sound_amplitude = 32767;
    snd_ready_players(&eng);
    snd_song song = snd_unpack_module(&eng, module.data(), (int32_t)module.size());
    snd_repair_song(&song);
    eng.audio_blocks = 0;
    snd_play_song(&eng, &song);
    for (; (size_t)eng.audio_blocks < blocks; eng.audio_blocks++) {
        if (eng.snd_players[0] == &song) snd_tick(&eng, &song, 0);
        if (song.state == 0) break;
        player.emplace_back(song.order_pos, song.row);
    }
    snd_free_song(&eng, &song);
    return player;
}

// Renders in calls of per_call samples until `want` are there or the song stops, and checks after every call
// that the position is the player's for the block of the last sample; a stopped song gives no more.
samples replay_render(const bytes& module, uint32_t seed, size_t want, int per_call) {
    const positions player = player_positions(module, (want + SND_BLOCK - 1) / SND_BLOCK);
    qvl_replay* replay = qvl_replay_open(module.data(), module.size(), seed);
    EXPECT_NE(replay, nullptr);
    // Another song open at the same time and played between the calls leaves this one undisturbed.
    const bytes jingle = read_file(fs::path(QUAVLO_SOURCE_DIR) / "examples" / "jingle.qvl");
    qvl_replay* other = qvl_replay_open(jingle.data(), jingle.size(), seed + 1);
    EXPECT_NE(other, nullptr);
    samples ignored(333);
    samples out(want);
    size_t have = 0;
    for (int got = per_call; replay && got == per_call && have < want;) {
        qvl_replay_render(other, ignored.data(), (int)ignored.size());
        got = qvl_replay_render(replay, out.data() + have, (int)std::min<size_t>((size_t)per_call, want - have));
        have += (size_t)got;
        std::pair<int, int> now;
        qvl_replay_position(replay, &now.first, &now.second);
        if (got > 0 && (have > player.size() * SND_BLOCK || now != player[(have - 1) / SND_BLOCK])) {
            ADD_FAILURE() << "position order " << now.first << " row " << now.second << " after sample " << have;
            break;
        }
    }
    if (have < want) { EXPECT_EQ(qvl_replay_render(replay, out.data(), per_call), 0); }
    qvl_replay_close(other);
    qvl_replay_close(replay);
    out.resize(have);
    return out;
}

// Compares samples and positions with quavlo-cli's render in every call size; returns whether the song stopped
// itself before the time was up.
bool expect_same_as_cli(const fs::path& module, double seconds, uint32_t clock) {
    SCOPED_TRACE(module.filename().string() + " clock " + std::to_string(clock));
    const samples expected = samples_of(cli_render(module, seconds, clock), 44);
    const bool stopped = expected.size() < (size_t)std::llround(seconds * SND_RATE);
    for (int per_call : per_call_sizes) {
        SCOPED_TRACE(std::to_string(per_call) + " per call");
        // One call more than the CLI wrote: a song that plays on gives it, one that stopped does not.
        samples got = replay_render(read_file(module), clock, expected.size() + (size_t)per_call, per_call);
        EXPECT_EQ(got.size(), expected.size() + (stopped ? 0 : (size_t)per_call));
        got.resize(std::min(got.size(), expected.size()));
        EXPECT_TRUE(got == expected);
    }
    return stopped;
}

// Reference songs with speed changes, row and order jumps, channel pins and stops, all eight samples, arpeggio and
// vibrato; the benchmark song across its loop; the examples' tune, which stops itself.
TEST(ReplayBitExact, SamplesAndPositionsOfEveryReferenceSongTheBenchmarkSongAndTheTune) {
    EXPECT_TRUE(expect_same_as_cli(tune, 60, 4321));
    if (!fs::is_directory(shared_dir / "reference")) GTEST_SKIP() << "no reference songs beside the repository";
    int stopped = 0, songs = 0;
    for (const auto& e : fs::directory_iterator(shared_dir / "reference"))
        if (e.path().extension() == ".qvl" && e.path().string().find(".repack.") == std::string::npos)
            stopped += expect_same_as_cli(e.path(), 30, 0), songs++;
    EXPECT_GT(songs, 0);
    EXPECT_GT(stopped, 0) << "no reference song stopped itself";
    // The noise sample follows the seed.
    for (uint32_t clock : {1234u, 66770u}) expect_same_as_cli(shared_dir / "reference" / "mus_samples.qvl", 30, clock);
    // 127.9 s a pass: 130 s include the wrap to the first order position.
    EXPECT_FALSE(expect_same_as_cli(shared_dir / "bench" / "bench_song.qvl", 130, 0));
}

// The songs the length, passes and restart are checked on: the examples' (which stop themselves), a single note that
// plays on for ever from the fuzzers' seeds (so a second pass is checked in any clone), the reference songs and the
// benchmark song when they are beside the repository.
std::vector<fs::path> all_songs() {
    const fs::path source(QUAVLO_SOURCE_DIR);
    std::vector<fs::path> songs = {tune, source / "examples" / "jingle.qvl",
                                   source / "tests" / "fuzz" / "corpus" / "single_note.qvl"};
    if (fs::is_directory(shared_dir / "reference"))
        for (const auto& e : fs::directory_iterator(shared_dir / "reference"))
            if (e.path().extension() == ".qvl" && e.path().string().find(".repack.") == std::string::npos)
                songs.push_back(e.path());
    if (fs::exists(shared_dir / "bench" / "bench_song.qvl")) songs.push_back(shared_dir / "bench" / "bench_song.qvl");
    return songs;
}

TEST(ReplayBitExact, LengthAndPassesAreQuavloClisAndASeekToTheStartPlaysTheSongAgain) {
    constexpr double hour = 3600;
    int looping = 0;
    for (const fs::path& module : all_songs()) {
        SCOPED_TRACE(module.filename().string());
        const bytes data = read_file(module);
        const samples once = samples_of(cli_render(module, hour, 99, 1), 44);
        qvl_replay* replay = qvl_replay_open(data.data(), data.size(), 99);
        ASSERT_NE(replay, nullptr);
        EXPECT_EQ(qvl_replay_length(replay), once.size() < hour * SND_RATE ? (long)once.size() : -1);
        // Somewhere into the song, back to its start: the same samples as the first time.
        samples some(12345);
        EXPECT_EQ(qvl_replay_render(replay, some.data(), (int)some.size()), (int)some.size());
        for (int passes : {1, 2}) {
            ASSERT_EQ(qvl_replay_seek(replay, 0, 0), 1);
            qvl_replay_set_passes(replay, passes);
            const samples expected = passes == 1 ? once : samples_of(cli_render(module, hour, 99, passes), 44);
            samples got(expected.size() + 1000);
            size_t have = 0;
            for (int n = 1; n > 0 && have < got.size(); have += (size_t)n)
                n = qvl_replay_render(replay, got.data() + have, (int)std::min<size_t>(got.size() - have, 3000));
            got.resize(have);
            EXPECT_TRUE(got == expected) << passes << " passes: " << got.size() << " samples, quavlo-cli "
                                         << expected.size();
            if (passes == 2 && expected.size() > once.size()) looping++;
        }
        qvl_replay_close(replay);
    }
    EXPECT_GT(looping, 0) << "no song played a second pass";
}

TEST(ReplayExamples, BuiltOnTheExportedTuneTheyWriteWhatQuavloCliRenders) {
    // Two songs open at once, rendered in turns in calls of 1, 7, 1102 and 4096 samples: each file is the CLI's.
    const fs::path jingle = fs::path(QUAVLO_SOURCE_DIR) / "examples" / "jingle.qvl";
    const fs::path both[2] = {scratch("tune.wav"), scratch("jingle.wav")};
    ASSERT_TRUE(run(std::string(QUAVLO_TWO_SONGS) + " '" + tune.string() + "' '" + jingle.string() + "' " +
                    both[0].string() + " " + both[1].string() + " 600"));
    EXPECT_TRUE(read_file(both[0], true) == cli_render(tune, 600, 0)) << "the tune, played beside the jingle";
    EXPECT_TRUE(read_file(both[1], true) == cli_render(jingle, 600, 0)) << "the jingle, played beside the tune";

    const bytes expected = cli_render(tune, 600, 0);
    ASSERT_GT(expected.size(), 44u);
    for (int per_call : per_call_sizes) {
        const fs::path out = scratch("example.wav");
        ASSERT_TRUE(run(std::string(QUAVLO_RENDER_HEADER) + " " + out.string() + " 600 " + std::to_string(per_call)));
        EXPECT_TRUE(read_file(out, true) == expected) << per_call << " per call";
    }
#ifdef QUAVLO_PLAY_HEADER
    // SDL's disk audio driver writes what the device played to a file, as fast as the program fills it: silence
    // while the device is still paused, then the callback's samples, then silence once the song stopped itself.
    const fs::path raw = scratch("played.raw");
    ASSERT_TRUE(run("SDL_AUDIODRIVER=disk SDL_DISKAUDIODELAY=0 SDL_DISKAUDIOFILE=" + raw.string() + " " +
                    QUAVLO_PLAY_HEADER + " >/dev/null 2>&1"));
    auto sounding = [](const samples& s) {
        return samples(std::find_if(s.begin(), s.end(), [](int16_t v) { return v != 0; }), s.end());
    };
    const samples played = sounding(samples_of(read_file(raw, true), 0)), rendered = sounding(samples_of(expected, 44));
    ASSERT_GE(played.size(), rendered.size());
    EXPECT_TRUE(std::equal(rendered.begin(), rendered.end(), played.begin()));
    EXPECT_EQ(std::count(played.begin() + (long)rendered.size(), played.end(), 0),
              (long)(played.size() - rendered.size()));
#endif
}

} // namespace

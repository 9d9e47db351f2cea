// quavlo-cli, run as the separate program it is: exit codes and messages, the JSON dump, repack, header names,
// and renders, among them a --recorder render that must equal a capture through wav_start/snd_render/wav_stop,
// renders cut to the sample and the stems of the four channels.
#include "test_files_fixture.h"

#include <sys/wait.h>

using namespace files_test;

namespace {

struct cli_result {
    int code = -1;
    std::string out, err;
};

class Cli : public InTempDir {
protected:
    snd_song song{};
    void TearDown() override {
        snd_free_song(&eng, &song);
        InTempDir::TearDown();
    }
    cli_result run(const std::string& args) {
        const std::string command = std::string(QUAVLO_CLI) + " " + args + " >cli.out 2>cli.err";
        const int status = std::system(command.c_str());
        cli_result r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = read_text("cli.out");
        r.err = read_text("cli.err");
        std::remove("cli.out");
        std::remove("cli.err");
        return r;
    }
    static void cell(snd_pattern* p, int c, int r, uint8_t flags, uint8_t note, uint8_t sample, uint8_t volume,
                     uint8_t effect, uint8_t param) {
        *snd_cell_flags(p, c, r) = flags;
        const uint8_t fields[5] = {note, sample, volume, effect, param};
        for (int f = 0; f < 5; f++) *snd_cell_field(p, c, f, r) = fields[f];
    }
    // Two patterns with notes on all four channels, every effect the player knows, a rest and the noise sample.
    void make_busy_song() {
        snd_create_song(&eng, &song, 2);
        song.order[1] = 1;
        snd_pattern* a = song.patterns[0];
        snd_pattern* b = song.patterns[1];
        const uint8_t all = 0x1F;
        cell(a, 0, 0, all, 0x40, 2, 12, 0x07, 0x35);  // vibrato
        cell(a, 1, 0, all, 0x44, 0, 15, 0x03, 0x47);  // arpeggio
        cell(a, 2, 0, all, 0x37, 6, 8, 0x06, 0x20);   // noise, detuned
        cell(a, 3, 0, all, 0x30, 7, 10, 0x21, 0x10);  // inverted slide up
        cell(a, 0, 8, 0x18, 0, 0, 0, 0x0F, 0x33);     // speed 3, arpeggio period
        cell(a, 1, 12, all, 0x49, 1, 15, 0x02, 0x30); // slide down
        cell(a, 2, 16, 0x18, 0, 0, 0, 0x04, 0x06);    // fade out
        cell(a, 3, 20, 0x18, 0, 0, 0, 0x05, 0x01);    // channel 3 plays pattern 1
        cell(a, 0, 24, 0x18, 0, 0, 0, 0x00, 0x00);    // note off and reset
        cell(a, 1, 24, 0x18, 0, 0, 0, 0x00, 0x00);
        cell(a, 2, 24, 0x18, 0, 0, 0, 0x00, 0x00);
        cell(a, 3, 24, 0x18, 0, 0, 0, 0x00, 0x00);
        cell(a, 0, 32, all, 0x52, 3, 14, 0x0B, 40); // continue at row 40 (rows 32..39 skipped)
        cell(a, 1, 44, all, 0x50, 4, 14, 0x09, 0);
        cell(a, 2, 48, 0x03, 0x45, 5, 0, 0, 0);
        cell(a, 0, 56, 0x18, 0, 0, 0, 0x0D, 0xFF); // next order position
        cell(b, 3, 24, all, 0x3B, 2, 15, 0x07, 0x12);
        cell(b, 0, 0, 0x03, 0x47, 7, 0, 0, 0);
        cell(b, 1, 10, 0x02, 0, 2, 0, 0, 0); // bare sample change
        cell(b, 2, 30, 0x18, 0, 0, 0, 0x0F, 0x02);
        cell(b, 0, 40, 0x18, 0, 0, 0, 0x00, 0x00);
        cell(b, 1, 40, 0x18, 0, 0, 0, 0x00, 0x00);
        cell(b, 3, 40, 0x18, 0, 0, 0, 0x00, 0x00);
        cell(b, 2, 50, 0x07, 0x42, 0, 9, 0, 0);
    }
    // Samples of a WAV file written by the CLI or the capture.
    static std::vector<int16_t> samples_of(const bytes& file) {
        std::vector<int16_t> s;
        for (size_t i = 44; i + 1 < file.size(); i += 2) s.push_back((int16_t)(file[i] | file[i + 1] << 8));
        return s;
    }
    static uint32_t data_size(const bytes& file) {
        return file.size() < 44 ? 0 : (uint32_t)(file[40] | file[41] << 8 | file[42] << 16 | (uint32_t)file[43] << 24);
    }
};

TEST_F(Cli, UsageErrorsExitWith2AndHelpWith0) {
    EXPECT_EQ(run("").code, 2);
    EXPECT_EQ(run("play x.qvl").code, 2);
    EXPECT_EQ(run("dump").code, 2);
    EXPECT_EQ(run("repack only-one.qvl").code, 2);
    EXPECT_EQ(run("render a.qvl b.wav --passes 0").code, 2);
    EXPECT_EQ(run("render a.qvl b.wav --seconds -1").code, 2);
    EXPECT_EQ(run("render a.qvl b.wav --bogus").code, 2);
    for (const char* sub : {"dump", "repack", "header", "render"}) {
        const cli_result help = run(std::string(sub) + " --help");
        EXPECT_EQ(help.code, 0) << sub;
        EXPECT_NE(help.out.find("IN"), std::string::npos) << sub;
    }
    const cli_result version = run("--version");
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out.rfind("quavlo-cli (QuavloII) ", 0), 0u) << version.out;
    EXPECT_GT(version.out.size(), std::string("quavlo-cli (QuavloII) \n").size()) << "no version number";
    const cli_result help = run("--help");
    EXPECT_EQ(help.code, 0);
    for (const char* sub : {"dump", "repack", "header", "render"}) EXPECT_NE(help.out.find(sub), std::string::npos);
    EXPECT_NE(run("render --help").out.find("--recorder"), std::string::npos);
    EXPECT_NE(run("render --help").out.find("--stems"), std::string::npos);
}

TEST_F(Cli, InputsThatAreNotUsableModulesExitWith2AndSayWhy) {
    cli_result r = run("dump missing.qvl");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("cannot read 'missing.qvl'"), std::string::npos) << r.err;
    write_file("text.qvl", {'h', 'e', 'l', 'l', 'o'});
    write_file("no-order.qvl", {'Q', 'V', 0, 0, 0x80, 0xFF, 0});
    for (const char* sub : {"dump text.qvl", "repack text.qvl o.qvl", "header text.qvl o.h", "render text.qvl o.wav",
                            "render no-order.qvl o.wav"}) {
        r = run(sub);
        EXPECT_EQ(r.code, 2) << sub;
        EXPECT_NE(r.err.find("not a usable module"), std::string::npos) << sub << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << sub;
    }
    EXPECT_FALSE(std::filesystem::exists("o.qvl") || std::filesystem::exists("o.h") ||
                 std::filesystem::exists("o.wav"));
}

TEST_F(Cli, DumpPrintsOnlyTheJsonWithCellsInFileOrderAndEntriesAsStored) {
    snd_create_song(&eng, &song, 2);
    song.order[1] = 9;                                    // names no pattern: dump does not repair
    cell(song.patterns[0], 2, 5, 0x21, 0x40, 7, 7, 7, 7); // fields without their bit are saved as 0
    cell(song.patterns[0], 0, 63, 0x1F, 1, 2, 3, 4, 5);
    cell(song.patterns[1], 3, 63, 0x08, 0, 0, 0, 0x0F, 0);
    ASSERT_EQ(save_module("song.qvl", &song), 1);
    const cli_result r = run("dump song.qvl");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "{\"samples\":8,\"order\":[0,9],\"patterns\":[["
                     "{\"channel\":0,\"row\":63,\"flags\":31,\"fields\":[1,2,3,4,5]},"
                     "{\"channel\":2,\"row\":5,\"flags\":33,\"fields\":[64,0,0,0,0]}],"
                     "[{\"channel\":3,\"row\":63,\"flags\":8,\"fields\":[0,0,0,15,0]}]]}\n");
}

TEST_F(Cli, RepackWritesTheCanonicalPackingAndFailsWith1WhenItCannotWrite) {
    // Hand-packed: a split run and an explicit empty last cell folded into a run.
    write_file("odd.qvl", {'Q', 'V', 0, 1, 0, 0x80, 10, 0x80, 10, 0x01, 0x30, 0x80, 0});
    cli_result r = run("repack odd.qvl out.qvl");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(read_file("out.qvl"), (bytes{'Q', 'V', 0, 1, 0, 0x80, 20, 0x01, 0x30, 0x80, 234, 0x00}));
    write_file("keep.qvl", {'k'});
    std::filesystem::create_directory("dir.qvl");
    r = run("repack odd.qvl no-such-dir/out.qvl");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("could not write"), std::string::npos) << r.err;
    EXPECT_EQ(run("repack odd.qvl dir.qvl").code, 1);
    EXPECT_EQ(read_file("keep.qvl"), bytes{'k'});
}

TEST_F(Cli, HeaderNamesTheArrayAfterTheFileCutBeforeItsFirstDotAsACIdentifier) {
    snd_create_song(&eng, &song, 1);
    ASSERT_EQ(save_module("song.qvl", &song), 1);
    std::filesystem::create_directory("sub");
    const std::string body = "[]=\n{\n0x51,0x56,0x00,0x01,0x00,0x80,0xFF,0x00,};\n";
    EXPECT_EQ(run("header song.qvl tune.h").code, 0);
    EXPECT_EQ(read_text("tune.h"), "const byte tune" + body);
    EXPECT_EQ(run("header song.qvl sub/tune").code, 0);
    EXPECT_EQ(read_text("sub/tune"), "const byte tune" + body);
    EXPECT_EQ(run("header song.qvl sub/my.song.h").code, 0);
    EXPECT_EQ(read_text("sub/my.song.h"), "const byte my" + body);
    EXPECT_EQ(run("header song.qvl sub/my-song.h").code, 0);
    EXPECT_EQ(read_text("sub/my-song.h"), "const byte my_song" + body);
    EXPECT_FALSE(std::filesystem::exists("temp.tmp"));
    const cli_result r = run("header song.qvl no-such-dir/x.h");
    EXPECT_EQ(r.code, 1);
    EXPECT_FALSE(std::filesystem::exists("temp.tmp"));
}

TEST_F(Cli, RenderRecorderEqualsACaptureThroughTheWavButtonPath) {
    make_busy_song();
    ASSERT_EQ(save_module("busy.qvl", &song), 1);
    const cli_result r = run("render busy.qvl rec.wav --recorder --clock 4321");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.out.empty());

    // The same song played as the tracker plays it: rendered block by block, captured to song.wav, one pass.
    prepare_engine();
    clock_value = 4321;
    snd_song played = load_module(&eng, "busy.qvl");
    snd_repair_song(&played);
    eng.end_with_song = true;
    eng.pass_limit = 1;
    wav_start(&eng);
    ASSERT_NE(eng.capture.wav_file, nullptr);
    snd_play_song(&eng, &played);
    int16_t block[SND_BLOCK];
    int32_t silent = 0;
    for (int32_t blocks = 0; blocks < 600 * SND_RATE / SND_BLOCK; blocks++) {
        if (snd_render(&eng, block, SND_BLOCK) < SND_BLOCK) break;
        if (wav_drain(&eng) == 0) silent++;
    }
    wav_stop(&eng);
    snd_free_song(&eng, &played);

    const bytes captured = read_file("song.wav");
    const bytes rendered = read_file("rec.wav");
    EXPECT_GT(silent, 0) << "the song should have silent blocks";
    ASSERT_GT(captured.size(), 44u + 40 * 2204);
    EXPECT_EQ(rendered.size(), captured.size());
    EXPECT_TRUE(rendered == captured) << "render --recorder differs from the capture";

    // The gapless render of the same song holds the silent blocks too.
    ASSERT_EQ(run("render busy.qvl gapless.wav --clock 4321").code, 0);
    EXPECT_EQ(read_file("gapless.wav").size(), captured.size() + (size_t)silent * 2204);
}

TEST_F(Cli, RenderStopsAtTheSecondsLimitToTheSampleAfterPassesOrWhenTheSongStopsItself) {
    make_busy_song();
    ASSERT_EQ(save_module("busy.qvl", &song), 1);
    // round(S * 22050) samples, also inside a block, and the same samples as a longer render up to there.
    ASSERT_EQ(run("render busy.qvl long.wav --seconds 3").code, 0);
    const auto longer = samples_of(read_file("long.wav"));
    const struct { const char* seconds; uint32_t samples; } limits[] = {
        {"2", 44100}, {"0.5", 11025}, {"0.001", 22}, {"0.04997", 1102}, {"2.00002", 44100}, {"2.00003", 44101}};
    for (const auto& limit : limits) {
        ASSERT_EQ(run(std::string("render busy.qvl cut.wav --seconds ") + limit.seconds).code, 0);
        const bytes file = read_file("cut.wav");
        EXPECT_EQ(data_size(file), limit.samples * 2) << limit.seconds;
        EXPECT_EQ(file.size(), 44 + limit.samples * 2) << limit.seconds;
        const auto cut = samples_of(file);
        EXPECT_TRUE(std::equal(cut.begin(), cut.end(), longer.begin())) << limit.seconds;
    }
    // A recorder keeps only whole blocks: the piece of the block the limit cuts is left out.
    ASSERT_EQ(run("render busy.qvl cut.wav --seconds 2 --recorder").code, 0);
    EXPECT_EQ(data_size(read_file("cut.wav")) % 2204, 0u);
    EXPECT_LE(data_size(read_file("cut.wav")), 40u * 2204); // the 41st block is cut at its 21st sample

    ASSERT_EQ(run("render busy.qvl p1.wav").code, 0);
    ASSERT_EQ(run("render busy.qvl p3.wav --passes 3").code, 0);
    const size_t one = read_file("p1.wav").size() - 44, three = read_file("p3.wav").size() - 44;
    EXPECT_GT(one, 0u);
    EXPECT_GT(three, 2 * one);
    EXPECT_LT(three, 3 * one);

    song.order[1] = 0;
    cell(song.patterns[0], 3, 6, 0x08, 0, 0, 0, 0x08, 0); // effect 8 at row 6: the render ends there
    ASSERT_EQ(save_module("stops.qvl", &song), 1);
    ASSERT_EQ(run("render stops.qvl stop.wav --passes 5").code, 0);
    EXPECT_EQ(data_size(read_file("stop.wav")), (2 + 6 * 2) * 2204u); // start, then rows 0..5 of 2 blocks
}

TEST_F(Cli, StemsHoldEachChannelAloneAsMuteLeavesItAndAreAsLongAsTheMix) {
    make_busy_song();
    ASSERT_EQ(save_module("busy.qvl", &song), 1);
    const cli_result r = run("render busy.qvl mix.wav --stems --clock 4321 --seconds 12");
    ASSERT_EQ(r.code, 0) << r.err;
    const auto mix = samples_of(read_file("mix.wav"));
    ASSERT_EQ(mix.size(), 12u * 22050);
    std::vector<int16_t> stems[4];
    for (int c = 0; c < 4; c++) {
        const std::string name = "mix-" + std::to_string(c + 1) + ".wav";
        stems[c] = samples_of(read_file(name));
        EXPECT_EQ(read_file(name).size(), read_file("mix.wav").size()) << name;
        EXPECT_TRUE(std::any_of(stems[c].begin(), stems[c].end(), [](int16_t v) { return v != 0; })) << name;

        // The same song played with the mute switches of the other channels off, as F5..F8 leave them.
        prepare_engine();
        clock_value = 4321;
        snd_song played = load_module(&eng, "busy.qvl");
        snd_repair_song(&played);
        eng.end_with_song = true;
        eng.pass_limit = 1;
        snd_play_song(&eng, &played);
        for (int k = 0; k < 4; k++) eng.snd_voices[0][k].enabled = k == c;
        std::vector<int16_t> muted(12 * 22050);
        EXPECT_EQ(snd_render(&eng, muted.data(), (int32_t)muted.size()), (int32_t)muted.size());
        snd_free_song(&eng, &played);
        EXPECT_TRUE(stems[c] == muted) << name;
    }
    // Where the mix is not clipped, it is the stems' sum up to the truncation of each of the five.
    size_t compared = 0;
    for (size_t i = 0; i < mix.size(); i++) {
        if (mix[i] <= -16383 || mix[i] >= 32767) continue;
        const int sum = stems[0][i] + stems[1][i] + stems[2][i] + stems[3][i];
        ASSERT_LE(std::abs(sum - mix[i]), 4) << "sample " << i;
        compared++;
    }
    EXPECT_GT(compared, mix.size() / 2);

    // A song with notes on channel 3 alone: its stem is the mix, the others are silence; with --recorder all
    // four are as long as the mix, which leaves out the silent blocks.
    snd_song lone{};
    snd_create_song(&eng, &lone, 1);
    cell(lone.patterns[0], 2, 0, 0x1F, 0x40, 2, 12, 0x07, 0x35);
    cell(lone.patterns[0], 2, 40, 0x18, 0, 0, 0, 0x00, 0x00);
    ASSERT_EQ(save_module("lone.qvl", &lone), 1);
    snd_free_song(&eng, &lone);
    ASSERT_EQ(run("render lone.qvl lone --stems --recorder").code, 0);
    const bytes lone_mix = read_file("lone");
    ASSERT_GT(lone_mix.size(), 44u);
    EXPECT_LT(data_size(lone_mix), (2 + 128) * 2204u) << "the recorder left out no silent block";
    for (int c = 0; c < 4; c++) {
        const auto stem = samples_of(read_file("lone-" + std::to_string(c + 1) + ".wav"));
        if (c == 2)
            EXPECT_TRUE(stem == samples_of(lone_mix));
        else
            EXPECT_TRUE(stem.size() == samples_of(lone_mix).size() &&
                        std::all_of(stem.begin(), stem.end(), [](int16_t v) { return v == 0; }))
                << "stem " << c + 1;
    }

    // A stem that cannot be written fails the render, and no file is left.
    std::filesystem::create_directory("busy-2.wav");
    EXPECT_EQ(run("render busy.qvl busy.wav --stems").code, 1);
    EXPECT_FALSE(std::filesystem::exists("busy.wav") || std::filesystem::exists("busy-1.wav"));
}

TEST_F(Cli, RenderRepairsTheSongAndIsReproducibleForAClock) {
    make_busy_song();
    ASSERT_EQ(save_module("busy.qvl", &song), 1);
    song.order[1] = 200; // names no pattern: played as pattern 0
    ASSERT_EQ(save_module("stray.qvl", &song), 1);
    song.order[1] = 0;
    ASSERT_EQ(save_module("zero.qvl", &song), 1);
    ASSERT_EQ(run("render stray.qvl a.wav --seconds 20 --clock 7").code, 0);
    ASSERT_EQ(run("render zero.qvl b.wav --seconds 20 --clock 7").code, 0);
    EXPECT_TRUE(read_file("a.wav") == read_file("b.wav"));

    ASSERT_EQ(run("render busy.qvl c1.wav --clock 100").code, 0);
    ASSERT_EQ(run("render busy.qvl c2.wav --clock 100").code, 0);
    ASSERT_EQ(run("render busy.qvl c3.wav --clock 101").code, 0);
    EXPECT_TRUE(read_file("c1.wav") == read_file("c2.wav"));
    EXPECT_FALSE(read_file("c1.wav") == read_file("c3.wav")) << "the clock seeds the noise sample";
    // Only the low 16 bits of the clock reach the noise generator.
    ASSERT_EQ(run("render busy.qvl c4.wav --clock 65636").code, 0);
    EXPECT_TRUE(read_file("c1.wav") == read_file("c4.wav"));

    // A module without patterns plays an empty one: silence for one pass.
    write_file("bare.qvl", {'Q', 'V', 0, 2, 0, 3});
    ASSERT_EQ(run("render bare.qvl bare.wav").code, 0);
    const bytes bare = read_file("bare.wav");
    EXPECT_EQ(data_size(bare), (2 + 2 * 128) * 2204u);
    const auto samples = samples_of(bare);
    EXPECT_TRUE(std::all_of(samples.begin(), samples.end(), [](int16_t s) { return s == 0; }));
}

TEST_F(Cli, RenderToAPlaceThatCannotBeWrittenExitsWith1) {
    snd_create_song(&eng, &song, 1);
    ASSERT_EQ(save_module("song.qvl", &song), 1);
    const cli_result r = run("render song.qvl no-such-dir/out.wav");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot create"), std::string::npos) << r.err;
}

} // namespace

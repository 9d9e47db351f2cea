// quavlo-cli: the tracker's command-line companion. Dumps a module as JSON, repacks it, exports it as a C header
// and renders it to a WAV file faster than real time with the same player and mixer the tracker plays it with.
// One thread with one sound engine, prepared as the sound start-up does; no device is opened and no audio thread
// runs: the engine's block renderer gives the samples directly.
#include "cli_stdio.h"
#include "os_platform.h"
#include "os_tools.h"
#include "sound.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstring>
#include <string>

enum { CLI_OK = 0, CLI_FAILED = 1, CLI_USAGE = 2 };

static FILE* cli_out;         // the process's real standard output (dump's JSON); stdout carries the engine's log
static int32_t cli_clock_ms;  // what the millisecond clock returns while a module is read
static bool cli_progress;     // draw a progress bar on stderr (it is a terminal)
static snd_engine cli_engine; // the one engine: reads, plays and renders every module

static int32_t cli_fixed_clock() { return cli_clock_ms; }

static void cli_error(const std::string& message) { fprintf(stderr, "quavlo-cli: %s\n", message.c_str()); }

// Reads a module with the noise sample seeded from the fixed clock. On failure prints why and returns false
// with the song freed.
static bool cli_load(const std::string& path, snd_song* song) {
    errno = 0;
    *song = load_module(&cli_engine, path.c_str());
    if (song->sample_count == 0) {
        cli_error("cannot read '" + path + "': " + (errno ? strerror(errno) : "empty or unreadable file"));
        return false;
    }
    if (!snd_song_usable(song)) {
        cli_error("'" + path + "' is not a usable module (not a Quavlo module, or its order list is empty)");
        snd_free_song(&cli_engine, song);
        return false;
    }
    return true;
}

// ---- dump

static int cli_dump(const std::string& in) {
    snd_song song;
    if (!cli_load(in, &song)) return CLI_USAGE;
    fprintf(cli_out, "{\"samples\":%d,\"order\":[", song.sample_count);
    for (int32_t i = 0; i < song.order_len; i++) fprintf(cli_out, "%s%d", i ? "," : "", song.order[i]);
    fprintf(cli_out, "],\"patterns\":[");
    for (int32_t p = 0; p < song.pattern_count; p++) {
        snd_pattern* pattern = song.patterns[p];
        fprintf(cli_out, "%s[", p ? "," : "");
        bool first = true;
        for (int32_t c = 0; c < SND_CHANNELS; c++) {
            for (int32_t r = 0; r < SND_ROWS; r++) {
                const uint8_t flags = *snd_cell_flags(pattern, c, r);
                if (!flags) continue;
                fprintf(
                    cli_out, "%s{\"channel\":%d,\"row\":%d,\"flags\":%d,\"fields\":[%d,%d,%d,%d,%d]}", first ? "" : ",",
                    c, r, flags, *snd_cell_field(pattern, c, SND_FIELD_NOTE, r),
                    *snd_cell_field(pattern, c, SND_FIELD_SAMPLE, r), *snd_cell_field(pattern, c, SND_FIELD_VOLUME, r),
                    *snd_cell_field(pattern, c, SND_FIELD_EFFECT, r), *snd_cell_field(pattern, c, SND_FIELD_PARAM, r));
                first = false;
            }
        }
        fprintf(cli_out, "]");
    }
    fprintf(cli_out, "]}\n");
    snd_free_song(&cli_engine, &song);
    return fflush(cli_out) == 0 ? CLI_OK : CLI_FAILED;
}

// ---- repack and header

static int cli_repack(const std::string& in, const std::string& out) {
    snd_song song;
    if (!cli_load(in, &song)) return CLI_USAGE;
    const int32_t saved = save_module(out.c_str(), &song);
    snd_free_song(&cli_engine, &song);
    if (!saved) {
        cli_error("could not write '" + out + "'");
        return CLI_FAILED;
    }
    return CLI_OK;
}

// The array is named after the header's file name, as the tracker's SAVE names it.
static std::string cli_array_name(const std::string& path) {
    std::string name(path.size() + 2, '\0');
    name.resize((size_t)snd_header_name(path.c_str(), name.data(), (int32_t)name.size()));
    return name;
}

static int cli_header(const std::string& in, const std::string& out) {
    snd_song song;
    if (!cli_load(in, &song)) return CLI_USAGE;
    const int32_t written = export_c_header(out.c_str(), cli_array_name(out).c_str(), &song);
    snd_free_song(&cli_engine, &song);
    if (!written) {
        cli_error("could not write '" + out + "' (or the temporary file temp.tmp in the current directory)");
        return CLI_FAILED;
    }
    return CLI_OK;
}

// ---- render

struct cli_render_options {
    int32_t passes = 1;    // stop when the song has come back to its start this many times
    double seconds = 600;  // stop after this much audio at the latest
    bool recorder = false; // leave out the blocks the mixer silenced, as the tracker's WAV capture does
    int64_t clock = 0;     // millisecond clock while the module is read (seeds the noise sample)
};

static void cli_draw_progress(int32_t blocks, double seconds) {
    const double done = (double)blocks * SND_BLOCK / SND_RATE;
    const int32_t width = 30;
    const int32_t filled = (int32_t)(width * (done / seconds < 1 ? done / seconds : 1));
    fprintf(stderr, "\rrendering [%.*s%*s] %7.1f s", filled, "##############################", width - filled, "",
            done);
}

// Renders the song block by block as the tracker's audio output does, writing the blocks to `out`: every block
// (gapless), or through the engine's WAV capture, which keeps only the blocks that sounded (recorder). Returns the
// blocks rendered; *written is false when the file could not take them.
static int32_t cli_render_blocks(snd_song* song, FILE* out, const cli_render_options& options, int32_t* samples,
                                 bool* written) {
    static int16_t block[SND_BLOCK];
    snd_engine* e = &cli_engine;
    const double limit = options.seconds * SND_RATE;
    *samples = 0;
    e->end_with_song = true;
    e->pass_limit = options.passes;
    song->order_pos = 0;
    snd_play_song(e, song);
    if (options.recorder && !wav_capture_into(e, out)) {
        *written = false;
        return 0;
    }
    int32_t blocks = 0;
    while (snd_render(e, block, SND_BLOCK) == SND_BLOCK) {
        blocks++;
        if (options.recorder) {
            wav_drain(e);
        } else if (*written) {
            const size_t bytes = wav_write_samples(out, block, SND_BLOCK, fwrite);
            *written = bytes == sizeof block;
            *samples += (int32_t)(bytes / 2);
        }
        if (cli_progress && blocks % 32 == 0) cli_draw_progress(blocks, options.seconds);
        if ((double)blocks * SND_BLOCK >= limit) break;
    }
    if (options.recorder) {
        wav_end_taking(e);
        *samples = e->capture.wav_samples;
        // The capture finishes the header and closes the file; one that failed already has.
        const bool failed = e->capture.wav_failed != 0;
        *written = wav_stop(e) == 0 && !failed;
    }
    if (e->snd_players[0] == song) snd_stop_song(e, song);
    if (cli_progress) fprintf(stderr, "\rrendered %.1f s of audio%40s\n", (double)blocks * SND_BLOCK / SND_RATE, "");
    return blocks;
}

static int cli_render(const std::string& in, const std::string& out, const cli_render_options& options) {
    cli_clock_ms = (int32_t)(uint32_t)options.clock;
    snd_song song;
    if (!cli_load(in, &song)) return CLI_USAGE;
    snd_repair_song(&song);
    FILE* file = fopen(out.c_str(), "wb");
    if (!file) {
        cli_error("cannot create '" + out + "': " + strerror(errno));
        snd_free_song(&cli_engine, &song);
        return CLI_FAILED;
    }
    bool written = wav_write_header(file, 0) == 1;
    int32_t samples = 0;
    cli_render_blocks(&song, file, options, &samples, &written);
    snd_free_song(&cli_engine, &song);
    // A recorder's capture has finished and closed the file itself.
    if (!options.recorder) {
        written = written && !ferror(file) && fseek(file, 0, SEEK_SET) == 0 && wav_write_header(file, samples * 2);
        if (fclose(file) != 0) written = false;
    }
    if (!written) {
        cli_error("could not write '" + out + "'");
        remove(out.c_str());
        return CLI_FAILED;
    }
    return CLI_OK;
}

int main(int argc, char** argv) {
    CLI::App app{"Works with QuavloII modules (.qvl) without the tracker's window.", "quavlo-cli"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "quavlo-cli (QuavloII) " QUAVLO_VERSION);
    // Options are spelled the same everywhere; on Windows a path may start with '/', and stays a path.
    app.allow_windows_style_options(false);
    bool verbose = false;
    app.add_flag("-v,--verbose", verbose, "Show the sound engine's diagnostic log on stderr");

    std::string in, out;
    auto* dump = app.add_subcommand("dump", "Print a module's order list and filled cells as one JSON object");
    dump->add_option("IN", in, "Module file to read")->required();

    auto* repack = app.add_subcommand("repack", "Read a module and write it again in canonical packing");
    repack->add_option("IN", in, "Module file to read")->required();
    repack->add_option("OUT", out, "Module file to write (replaced only when written completely)")->required();

    auto* header = app.add_subcommand("header", "Export a module as a C header holding a 'const byte' array");
    header->add_option("IN", in, "Module file to read")->required();
    header
        ->add_option("OUT", out,
                     "Header file to write; the array is named after it (up to the first '.', as a C identifier)")
        ->required();

    cli_render_options options;
    auto* render = app.add_subcommand("render", "Render a module to a 16-bit mono 22050 Hz WAV file");
    render->add_option("IN", in, "Module file to read")->required();
    render->add_option("OUT", out, "WAV file to write")->required();
    render->add_option("--passes", options.passes, "Stop after the song has played through this many times")
        ->capture_default_str()
        ->check(CLI::Range(1, 1000000));
    render->add_option("--seconds", options.seconds, "Stop after this many seconds of audio at the latest")
        ->capture_default_str()
        ->check(CLI::Range(0.001, 48000.0));
    render->add_flag("--recorder", options.recorder,
                     "Leave out the blocks in which nothing sounds, exactly as the tracker's WAV button records");
    render
        ->add_option("--clock", options.clock,
                     "Millisecond clock value that seeds the noise sample while the module is read")
        ->capture_default_str()
        ->check(CLI::Range((int64_t)0, (int64_t)UINT32_MAX));

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) { return app.exit(e) == 0 ? CLI_OK : CLI_USAGE; }

    os_use_process_hooks();
    cli_out = cli_route_log(verbose);
    cli_progress = cli_stderr_is_terminal();
    snd_init_engine(&cli_engine);
    cli_engine.snd_clock_ms = cli_fixed_clock;
    cli_engine.capture.write = fwrite;
    if (*dump) return cli_dump(in);
    if (*repack) return cli_repack(in, out);
    if (*header) return cli_header(in, out);
    return cli_render(in, out, options);
}

// quavlo-cli: the tracker's command-line companion. Dumps a module as JSON, repacks it, exports it as a C header
// and renders it to a WAV file faster than real time with the same player and mixer the tracker plays it with,
// and with --stems each channel alone beside it. One thread with one sound engine, prepared as the sound start-up
// does (and one more per channel for the stems); no device is opened and no audio thread runs: the engines' block
// renderer gives the samples directly.
#include "cli_stdio.h"
#include "os_platform.h"
#include "os_tools.h"
#include "sound.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>

enum { CLI_OK = 0, CLI_FAILED = 1, CLI_USAGE = 2 };

static FILE* cli_out;         // the process's real standard output (dump's JSON); stdout carries the engine's log
static int32_t cli_clock_ms;  // what the millisecond clock returns while a module is read
static bool cli_progress;     // draw a progress bar on stderr (it is a terminal)
static snd_engine cli_engine; // the one engine: reads, plays and renders every module
static snd_engine cli_stem_engines[SND_CHANNELS]; // --stems: each plays the song with one channel alone

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
    bool stems = false;    // also write each channel alone, beside the mix
    int64_t clock = 0;     // millisecond clock while the module is read (seeds the noise sample)
};

// A WAV file being rendered: the mix or a stem.
struct cli_output {
    std::string path;   // where it goes
    FILE* file;         // open while rendering
    bool created;       // the file was created (and is removed when the render fails)
    int32_t samples;    // samples written after the header
    bool written;       // false once a write failed
    snd_engine* engine; // the engine that renders it
    snd_song song;      // the song as that engine plays it (the tables are the loaded song's)
};

static void cli_draw_progress(int64_t samples, double seconds) {
    const double done = (double)samples / SND_RATE;
    const int32_t width = 30;
    const int32_t filled = (int32_t)(width * (done / seconds < 1 ? done / seconds : 1));
    fprintf(stderr, "\rrendering [%.*s%*s] %7.1f s", filled, "##############################", width - filled, "",
            done);
}

// The stem of channel `channel` beside `out`: out without its .wav, then -1.wav ... -4.wav.
static std::string cli_stem_path(const std::string& out, int32_t channel) {
    std::string base = out;
    if (base.size() >= 4) {
        std::string end = base.substr(base.size() - 4);
        for (char& c : end) c = (char)tolower((unsigned char)c);
        if (end == ".wav") base.resize(base.size() - 4);
    }
    return base + "-" + std::to_string(channel + 1) + ".wav";
}

// Renders the song as the tracker's audio output does, block by block, until it ends or `seconds` of audio (to
// the sample) are out: the mix to outputs[0], every block (gapless) or through the engine's WAV capture, which
// keeps only the blocks that sounded (recorder); the stems to the others, each block whenever the mix keeps it.
static void cli_render_song(cli_output* outputs, int32_t count, const cli_render_options& options) {
    static int16_t block[SND_BLOCK];
    const int64_t limit = (int64_t)std::floor(options.seconds * SND_RATE + 0.5);
    for (int32_t k = 0; k < count; k++) {
        snd_engine* e = outputs[k].engine;
        e->end_with_song = true;
        e->pass_limit = options.passes;
        outputs[k].song.order_pos = 0;
        snd_play_song(e, &outputs[k].song);
        // A stem is the song with the other channels muted, as the tracker's mute keys leave them.
        for (int32_t c = 0; k > 0 && c < SND_CHANNELS; c++) e->snd_voices[0][c].enabled = c == k - 1 ? 1 : 0;
    }
    snd_engine* mix = outputs[0].engine;
    if (options.recorder && !wav_capture_into(mix, outputs[0].file)) {
        outputs[0].written = false;
        return;
    }
    int64_t done = 0;
    for (int32_t blocks = 0; done < limit; blocks++) {
        const int32_t want = limit - done < SND_BLOCK ? (int32_t)(limit - done) : SND_BLOCK;
        int32_t got = 0;
        for (int32_t k = 0; k < count; k++) {
            cli_output* o = &outputs[k];
            got = snd_render(o->engine, block, want);
            if (k == 0 && options.recorder) {
                wav_drain(mix);
            } else if (o->written && (!options.recorder || (got == SND_BLOCK && mix->block_heard))) {
                // A recorder keeps the whole blocks that sounded in the mix, as its capture does.
                const size_t bytes = wav_write_samples(o->file, block, got, fwrite);
                o->written = bytes == (size_t)got * 2;
                o->samples += (int32_t)(bytes / 2);
            }
        }
        done += got;
        if (cli_progress && blocks % 32 == 31) cli_draw_progress(done, options.seconds);
        if (got < want) break;
    }
    if (options.recorder) {
        wav_end_taking(mix);
        outputs[0].samples = mix->capture.wav_samples;
        // The capture finishes the header and closes the file; one that failed already has.
        const bool failed = mix->capture.wav_failed != 0;
        outputs[0].written = wav_stop(mix) == 0 && !failed;
        outputs[0].file = nullptr;
    }
    for (int32_t k = 0; k < count; k++)
        if (outputs[k].engine->snd_players[0] == &outputs[k].song) snd_stop_song(outputs[k].engine, &outputs[k].song);
    if (cli_progress) fprintf(stderr, "\rrendered %.1f s of audio%40s\n", (double)done / SND_RATE, "");
}

static int cli_render(const std::string& in, const std::string& out, const cli_render_options& options) {
    cli_clock_ms = (int32_t)(uint32_t)options.clock;
    snd_song song;
    if (!cli_load(in, &song)) return CLI_USAGE;
    snd_repair_song(&song);
    cli_output outputs[1 + SND_CHANNELS];
    const int32_t count = options.stems ? 1 + SND_CHANNELS : 1;
    bool created = true;
    for (int32_t k = 0; k < count; k++) {
        cli_output* o = &outputs[k];
        o->path = k == 0 ? out : cli_stem_path(out, k - 1);
        o->engine = k == 0 ? &cli_engine : &cli_stem_engines[k - 1];
        if (k > 0) snd_init_engine(o->engine);
        // Every engine plays a record of its own over the loaded song's tables, which only the loaded one frees.
        o->song = song;
        o->samples = 0;
        o->file = created ? fopen(o->path.c_str(), "wb") : nullptr;
        o->created = o->file != nullptr;
        if (created && !o->file) {
            cli_error("cannot create '" + o->path + "': " + strerror(errno));
            created = false;
        }
        o->written = o->file && wav_write_header(o->file, 0) == 1;
    }
    if (created) cli_render_song(outputs, count, options);
    bool written = created;
    for (int32_t k = 0; k < count; k++) {
        cli_output* o = &outputs[k];
        // A recorder's capture has finished and closed the mix's file itself.
        if (o->file) {
            o->written = o->written && !ferror(o->file) && fseek(o->file, 0, SEEK_SET) == 0 &&
                         wav_write_header(o->file, o->samples * 2);
            if (fclose(o->file) != 0) o->written = false;
        }
        if (!o->written && created) cli_error("could not write '" + o->path + "'");
        written = written && o->written;
    }
    snd_free_song(&cli_engine, &song);
    if (!written) {
        for (int32_t k = 0; k < count; k++)
            if (outputs[k].created) remove(outputs[k].path.c_str());
        return CLI_FAILED;
    }
    return CLI_OK;
}

int main(int argc, char** argv) {
    CLI::App app{"Works with QuavloII modules (.qvl) without the tracker's window.", "quavlo-cli"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "quavlo-cli (QuavloII) " QUAVLO_VERSION, "Show the version and exit");
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
    render->add_option("--seconds", options.seconds,
                       "Stop after this many seconds of audio at the latest (to the sample: round(S * 22050))")
        ->capture_default_str()
        ->check(CLI::Range(0.001, 48000.0));
    render->add_flag("--recorder", options.recorder,
                     "Leave out the blocks in which nothing sounds, exactly as the tracker's WAV button records");
    render->add_flag("--stems", options.stems,
                     "Also write each channel alone, as the tracker's mute keys leave it, to OUT without .wav plus "
                     "-1.wav ... -4.wav, all as long as the mix");
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

// The tracker's command line: an optional module to open at start-up, the window scale, MIDI input, --help and
// --version.
// Read once by the entry point on the main thread before the frame loop starts; owns no state.
#include "app.h"

#include "os_midi.h"
#include "os_platform.h"

#include <cstdio>
#include <cstring>

#ifndef QUAVLO_VERSION
#define QUAVLO_VERSION "unknown"
#endif

const char app_version_text[] = "QuavloII " QUAVLO_VERSION "\n";

const char app_help_text[] = "Usage: quavlo [OPTION]... [FILE.qvl]\n"
                             "A four-channel music tracker. With FILE, it starts with that module loaded.\n"
                             "\n"
                             "  --scale N     show the window N times enlarged (1, 2 or 3); without it, the\n"
                             "                largest scale that fits the screen\n"
                             "  --midi MODE   MIDI keyboard input: auto (the default: JACK when a JACK server\n"
                             "                runs, else the ALSA sequencer; Windows MIDI on Windows), alsa,\n"
                             "                jack, none (no MIDI input), or list (print the ports it would\n"
                             "                connect and exit)\n"
                             "  -h, --help    show this help and exit\n"
                             "  --version     show the version and exit\n"
                             "\n"
                             "Environment:\n"
                             "  QUAVLO_SCALE                  window scale when --scale is not given\n"
                             "  SDL_FRAMEBUFFER_ACCELERATION  1 to draw the window through the graphics card\n"
                             "                                (an SDL renderer) instead of the window surface\n"
                             "  SDL_VIDEODRIVER               x11, wayland or kmsdrm, to choose the display system\n"
                             "\n"
                             "Exit status: 0 when the window was closed, 1 when it could not open, 2 for bad\n"
                             "arguments.\n";

static void app_command_error(app_command_line* out, const char* format, const char* detail) {
    out->action = APP_CMD_ERROR;
    snprintf(out->error, sizeof out->error, format, detail);
}

// The MIDI input a --midi value names; false for a value that names none.
static bool app_midi_mode(const char* name, int32_t* api) {
    static constexpr struct {
        const char* name;
        int32_t api;
    } modes[] = {{"auto", OS_MIDI_AUTO}, {"alsa", OS_MIDI_ALSA}, {"jack", OS_MIDI_JACK}, {"none", OS_MIDI_OFF}};
    for (const auto& m : modes)
        if (strcmp(name, m.name) == 0) {
            *api = m.api;
            return true;
        }
    return false;
}

void app_read_command_line(int argc, const char* const* argv, const char* env_scale, app_command_line* out) {
    memset(out, 0, sizeof *out);
    out->action = APP_CMD_RUN;
    const char* scale_text = nullptr;
    bool list_midi = false;
    out->midi = OS_MIDI_AUTO;
    bool options_end = false;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (!options_end && arg[0] == '-' && arg[1] != 0) {
            if (strcmp(arg, "--") == 0) {
                options_end = true;
            } else if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
                out->action = APP_CMD_HELP;
                return;
            } else if (strcmp(arg, "--version") == 0) {
                out->action = APP_CMD_VERSION;
                return;
            } else if (strcmp(arg, "--scale") == 0) {
                if (i + 1 >= argc) return app_command_error(out, "%s needs a value", arg);
                scale_text = argv[++i];
            } else if (strncmp(arg, "--scale=", 8) == 0) {
                scale_text = arg + 8;
            } else if (strcmp(arg, "--midi") == 0 || strncmp(arg, "--midi=", 7) == 0) {
                if (arg[6] == 0 && i + 1 >= argc) return app_command_error(out, "%s needs a value", arg);
                const char* mode = arg[6] == '=' ? arg + 7 : argv[++i];
                if (strcmp(mode, "list") == 0)
                    list_midi = true;
                else if (!app_midi_mode(mode, &out->midi))
                    return app_command_error(out, "--midi takes auto, alsa, jack, none or list, not '%s'", mode);
            } else {
                return app_command_error(out, "unknown option '%s'", arg);
            }
            continue;
        }
        if (out->file) return app_command_error(out, "only one file can be opened, not also '%s'", arg);
        out->file = arg;
    }

    // The list names the ports of the input the tracker would open with the other options.
    if (list_midi) out->action = APP_CMD_MIDI_LIST;

    if (scale_text) {
        out->scale = os_parse_scale(scale_text);
        if (!out->scale) return app_command_error(out, "--scale takes 1, 2 or 3, not '%s'", scale_text);
    } else if (env_scale && env_scale[0]) {
        // A stray environment setting must not keep the tracker from starting: it is reported and ignored.
        out->scale = os_parse_scale(env_scale);
        if (!out->scale)
            snprintf(out->warning, sizeof out->warning, "QUAVLO_SCALE takes 1, 2 or 3, not '%s'; ignored", env_scale);
    }
}

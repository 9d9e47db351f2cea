// The tracker's entry point on Linux: reads the command line, installs the termination signal handlers and the last
// acts for a broken display connection, then the frame loop runs the whole program on this thread until the window
// closes or a termination signal arrives.
#include "app.h"
#include "os_platform.h"
#include "platform_sdl.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    os_use_process_hooks();
    app_command_line command;
    app_read_command_line(argc, argv, getenv("QUAVLO_SCALE"), &command);
    switch (command.action) {
    case APP_CMD_HELP:
        fputs(app_help_text, stdout);
        return 0;
    case APP_CMD_VERSION:
        fputs(app_version_text, stdout);
        return 0;
    case APP_CMD_ERROR:
        fprintf(stderr, "quavlo: %s\nTry 'quavlo --help' for more information.\n", command.error);
        return 2;
    case APP_CMD_MIDI_LIST:
        return app_list_midi_ports(command, stdout);
    default:
        break;
    }
    if (command.warning[0]) fprintf(stderr, "quavlo: %s\n", command.warning);
    os_install_signal_handlers();
    os_display_lost = app_display_lost;
    os_window_scale = command.scale;
    app_start_file = command.file;
    app_midi_api = command.midi;
    app_run();
    return 0;
}

// The tracker's Windows entry point: reads the command line as the Linux one does, then the frame loop runs the
// whole program on this thread until the window closes. The log's lines also go to the debugger from the first
// one on. Text for --help, --version, --midi list and errors goes to the console the program was started from.
#include "platform_win32.h"

#include "app.h"
#include "os_platform.h"
#include "os_tools.h"

#include <cstdio>
#include <cstdlib>

// A GUI program has no console of its own: unless its output goes to a file or a pipe already, it writes to the
// console of the program that started it, if there is one.
static void app_attach_console() {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out && out != INVALID_HANDLE_VALUE) return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    if (!freopen("CONOUT$", "w", stdout)) return;
    if (!freopen("CONOUT$", "w", stderr)) return;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    os_use_process_hooks();
    os_log_debugger = os_debug_output;
    app_command_line command;
    app_read_command_line(__argc, __argv, getenv("QUAVLO_SCALE"), &command);
    switch (command.action) {
    case APP_CMD_HELP:
        app_attach_console();
        fputs(app_help_text, stdout);
        return 0;
    case APP_CMD_VERSION:
        app_attach_console();
        fputs(app_version_text, stdout);
        return 0;
    case APP_CMD_ERROR:
        app_attach_console();
        fprintf(stderr, "quavlo: %s\nTry 'quavlo --help' for more information.\n", command.error);
        return 2;
    case APP_CMD_MIDI_LIST:
        app_attach_console();
        return app_list_midi_ports(command, stdout);
    default:
        break;
    }
    os_window_scale = command.scale;
    app_start_file = command.file;
    app_midi_api = command.midi;
    app_run();
    return 0;
}

// The tracker's Windows entry point: reads the command line as the Linux one does (the arguments arrive in UTF-8,
// the code page the manifest asks for), prints --help, --version, --midi list and argument errors to the console it
// was started from, then the frame loop runs the whole program on this thread until the window closes. The log's
// lines also go to the debugger from the first one on.
#include "platform_win32.h"

#include "app.h"
#include "os_platform.h"
#include "os_tools.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// Writes UTF-8 text where the user who started the program reads it: the standard handle when it was redirected
// (a pipe or a file), else the console of the parent process. A program of the GUI subsystem has no console of its
// own, so it attaches to its parent's. Returns 0 when there is none (started from Explorer, say).
static int win_print(const char* text, DWORD which) {
    HANDLE out = GetStdHandle(which);
    if (!out || out == INVALID_HANDLE_VALUE) {
        if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED) return 0;
        out = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
        if (out == INVALID_HANDLE_VALUE) return 0;
    }
    const int length = (int)strlen(text);
    DWORD mode = 0, done = 0;
    if (GetConsoleMode(out, &mode)) {
        // A console shows UTF-16 whatever its own code page.
        const int wide_length = MultiByteToWideChar(CP_UTF8, 0, text, length, nullptr, 0);
        wchar_t* wide = (wchar_t*)calloc((size_t)wide_length + 1, sizeof(wchar_t));
        if (!wide) return 0;
        MultiByteToWideChar(CP_UTF8, 0, text, length, wide, wide_length);
        const BOOL written = WriteConsoleW(out, wide, (DWORD)wide_length, &done, nullptr);
        free(wide);
        return written ? 1 : 0;
    }
    return WriteFile(out, text, (DWORD)length, &done, nullptr) && done == (DWORD)length;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    os_use_process_hooks();
    app_command_line command;
    app_read_command_line(__argc, __argv, getenv("QUAVLO_SCALE"), &command);
    char message[sizeof command.error + 80];
    switch (command.action) {
    case APP_CMD_HELP:
        win_print(app_help_text, STD_OUTPUT_HANDLE);
        return 0;
    case APP_CMD_VERSION:
        win_print(app_version_text, STD_OUTPUT_HANDLE);
        return 0;
    case APP_CMD_ERROR:
        snprintf(message, sizeof message, "quavlo: %s\nTry 'quavlo --help' for more information.\n", command.error);
        // Started without a console (a shortcut with a bad argument): the message must still reach the user.
        if (!win_print(message, STD_ERROR_HANDLE)) MessageBoxA(nullptr, message, "QuavloII", MB_OK | MB_ICONERROR);
        return 2;
    case APP_CMD_MIDI_LIST: {
        // The list is written to a scratch file and shown as any other text, in the console's own characters.
        FILE* list = tmpfile();
        if (!list) return 1;
        const int status = app_list_midi_ports(command, list);
        std::string text;
        rewind(list);
        for (int c; (c = fgetc(list)) != EOF;) text.push_back((char)c);
        fclose(list);
        win_print(text.c_str(), STD_OUTPUT_HANDLE);
        return status;
    }
    default:
        break;
    }
    if (command.warning[0]) {
        snprintf(message, sizeof message, "quavlo: %s\n", command.warning);
        win_print(message, STD_ERROR_HANDLE);
    }
    os_log_debugger = os_debug_output;
    os_window_scale = command.scale;
    app_start_file = command.file;
    app_midi_api = command.midi;
    app_run();
    return 0;
}

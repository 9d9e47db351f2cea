// Standard streams of quavlo-cli on Windows: the C runtime's descriptors, duplicated and redirected with
// _dup/_dup2, and the command's own output in binary mode, so that it carries "\n" line ends exactly as on other
// systems. The program's text is UTF-8 (the manifest's code page); a console is switched to show it as such until
// the program ends. Main thread only; owns nothing after the call.
#include "cli_stdio.h"

#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

static UINT cli_console_cp; // the console's output code page before the program changed it; 0 when unchanged

static void cli_restore_console() {
    if (cli_console_cp) SetConsoleOutputCP(cli_console_cp);
}

FILE* cli_route_log(bool verbose) {
    const UINT console_cp = GetConsoleOutputCP();
    if (console_cp && console_cp != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
        cli_console_cp = console_cp;
        atexit(cli_restore_console);
    }
    const int out_fd = _dup(_fileno(stdout));
    FILE* out = out_fd >= 0 ? _fdopen(out_fd, "wb") : nullptr;
    if (out) _setmode(out_fd, _O_BINARY);
    if (!out) out = stderr;
    fflush(stdout);
    const int target = verbose ? _fileno(stderr) : _open("NUL", _O_WRONLY);
    if (target >= 0) _dup2(target, _fileno(stdout));
    if (!verbose && target >= 0) _close(target);
    return out;
}

bool cli_stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

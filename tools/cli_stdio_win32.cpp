// Standard streams of quavlo-cli on Windows: the C runtime's descriptors, duplicated and redirected with
// _dup/_dup2, and the command's own output in binary mode, so that it carries "\n" line ends exactly as on other
// systems. Main thread only; owns nothing after the call.
#include "cli_stdio.h"

#include <fcntl.h>
#include <io.h>

FILE* cli_route_log(bool verbose) {
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

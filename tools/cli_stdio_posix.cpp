// Standard streams of quavlo-cli on POSIX systems: file descriptors duplicated and redirected with dup/dup2.
// Main thread only; owns nothing after the call.
#include "cli_stdio.h"

#include <fcntl.h>
#include <unistd.h>

FILE* cli_route_log(bool verbose) {
    FILE* out = fdopen(dup(STDOUT_FILENO), "w");
    if (!out) out = stderr;
    fflush(stdout);
    const int target = verbose ? STDERR_FILENO : open("/dev/null", O_WRONLY);
    if (target >= 0) dup2(target, STDOUT_FILENO);
    if (!verbose && target >= 0) close(target);
    return out;
}

bool cli_stderr_is_terminal() { return isatty(STDERR_FILENO) != 0; }

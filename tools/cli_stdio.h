// Standard streams of quavlo-cli, the one part of it that differs between POSIX systems (cli_stdio_posix.cpp)
// and Windows (cli_stdio_win32.cpp). Main thread only.
#pragma once
#include <cstdio>

// The engine logs every allocation to standard output. This sends its log to stderr (verbose) or nowhere, and
// returns a stream on the process's real standard output for what the command itself prints (stderr when
// standard output cannot be duplicated). The stream writes bytes unchanged, whatever the platform's line ends.
FILE* cli_route_log(bool verbose);

// True when standard error is a terminal, where a progress bar can be drawn.
bool cli_stderr_is_terminal();

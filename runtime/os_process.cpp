// The tracker's side of the tools: each log line goes to standard output at once (and to the debugger where the
// backend has set one), and running out of memory stops the program with a message. os_log_output runs on either
// thread, with the log's lock held; os_out_of_memory on the main thread. Owns nothing.
#include "os_tools.h"

#include <cstdio>
#include <cstdlib>

void (*os_log_debugger)(const char* line); // the debugger's copy of each log line; set by the backend's entry point

void os_log_output(const char* line) {
    // Standard output is block-buffered when it goes to a file or a pipe: without the flush, the lines that
    // explain a crash would die with the process.
    fputs(line, stdout);
    fflush(stdout);
    if (os_log_debugger) os_log_debugger(line);
}

void os_out_of_memory(int32_t size) {
    fprintf(stderr, "QuavloII: out of memory (a block of %d bytes could not be allocated)\n", size);
    exit(1);
}

// The tracker's side of the engine's host hooks: each log line goes to standard output at once (and to the
// debugger where the backend has set one), running out of memory stops the program with a message, and written
// files are synced to the disk. The log output runs on either thread, with the log's lock held; the rest on the main
// thread. Owns nothing.
#include "os_files.h"
#include "os_platform.h"
#include "os_tools.h"

#include <cstdio>
#include <cstdlib>

void (*os_log_debugger)(const char* line); // the debugger's copy of each log line; set by the backend's entry point

static void os_process_log_output(const char* line) {
    // Standard output is block-buffered when it goes to a file or a pipe: without the flush, the lines that
    // explain a crash would die with the process.
    fputs(line, stdout);
    fflush(stdout);
    if (os_log_debugger) os_log_debugger(line);
}

static void os_process_out_of_memory(int32_t size) {
    fprintf(stderr, "QuavloII: out of memory (a block of %d bytes could not be allocated)\n", size);
    exit(1);
}

void os_use_process_hooks() {
    os_log_output = os_process_log_output;
    os_out_of_memory = os_process_out_of_memory;
    os_sync_file = os_sync_file_to_disk;
    os_sync_directory_of = os_sync_directory_to_disk;
}

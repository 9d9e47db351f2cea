// The fuzz targets' host hooks for the sound engine's log output and out-of-memory answer: the log is silent (each
// allocation logs a line, and writing them would cost more than the input). Running out of memory stops the run
// as a finding, and so does a failed assertion in a target that sets fuzz_assert_finding (the reader: no input
// may trip one there; the player asserts on notes and samples that only a damaged module holds).
#include "os_tools.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

bool fuzz_assert_finding; // a failed assertion stops the run

static void fuzz_log_output(const char* line) {
    if (!fuzz_assert_finding || strncmp(line, "assert:", 7) != 0) return;
    fprintf(stderr, "fuzz: %s", line);
    abort();
}

static void fuzz_out_of_memory(int32_t size) {
    fprintf(stderr, "fuzz: out of memory for a block of %d bytes\n", size);
    abort();
}

// The hooks and the quiet log are set before the first input: no allocation line is formatted.
static const bool fuzz_hooks_set = [] {
    os_log_quiet = true;
    os_log_output = fuzz_log_output;
    os_out_of_memory = fuzz_out_of_memory;
    return true;
}();

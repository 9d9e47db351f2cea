// The replayer's stand-ins for what the tracker takes from its platform and its files, so that the library prints
// nothing, never exits, reads no clock and writes no file. Run on the caller's thread; own nothing.
#include "os_platform.h"
#include "os_tools.h"
#include "replay_platform.h"
#include "sound.h"

uint32_t qvl_seed_ms;      // the clock value the open song's noise sample is seeded with
int32_t qvl_out_of_memory; // 1 once an allocation failed since the last open

FILE* wav_file; // never set: the replayer records nothing

// The log is silent in a library; its lines still reach os_log_sink when a test sets one.
void os_log_output(const char*) {}

// The allocation returns null and the open that asked for it fails.
void os_out_of_memory(int32_t) { qvl_out_of_memory = 1; }

// New songs seed their noise sample from the clock: here, the value the program passed to the open.
int32_t os_time_ms() { return (int32_t)qvl_seed_ms; }

void wav_append(const int16_t*) {}

// What the replayer's stand-ins for the program's platform share with its API (replay_platform.cpp).
#pragma once
#include <cstdint>

extern uint32_t qvl_seed_ms;      // what the millisecond clock reads: the seed of the open song's noise
extern int32_t qvl_out_of_memory; // set when os_alloc found no memory; cleared by each open

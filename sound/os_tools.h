// Tracked allocator, diagnostic log, assertion macro and bounded string length.
// The lowest layer of the engine: every other module allocates and logs through it.
#pragma once
#include <cstddef>
#include <cstdint>

extern int32_t os_alloc_count;  // live tracked blocks; main thread only
extern uint8_t os_alloc_serial; // serial stamped into the next block, wraps 255 -> 0

// Optional copy of every log line, for tests that inspect the log (null: stdout only).
extern void (*os_log_sink)(const char* line);
// Set by a program that discards its log (the fuzz targets): only assertion lines are formatted and passed on.
extern bool os_log_quiet;

// Zeroed block of at least `size` bytes. When the system has no memory, os_out_of_memory decides: the tracker
// stops there; a library goes on and receives null.
void* os_alloc(int32_t size);

// Frees the block that *var points to and clears *var (called as os_free(&owner_field)).
void os_free_block(void** var);
template <class T> inline void os_free(T** var) { os_free_block(reinterpret_cast<void**>(var)); }
inline void os_free(std::nullptr_t) { os_free_block(nullptr); }

void os_log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Provided once per program (os_process.cpp for the tracker and its tools): where each finished log line goes,
// and what happens when os_alloc finds no memory.
void os_log_output(const char* line);
void os_out_of_memory(int32_t size);
// The tracker's copy of each log line for the debugger (os_process.cpp), set by a backend's entry point that has
// one; null: none.
extern void (*os_log_debugger)(const char* line);

// Logs the failed condition's source file and line, then carries on.
#define OS_ASSERT(cond)                                                                                                \
    do {                                                                                                               \
        if (!(cond)) os_log("assert:%s %d\n", __FILE__, __LINE__);                                                     \
    } while (0)

// Length of a NUL-terminated text, counted up to 1024 characters.
int32_t os_strlen(const char* text);

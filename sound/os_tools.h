// Tracked allocator, diagnostic log, assertion macro and bounded string length.
// The lowest layer of the engine: every other module allocates and logs through it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

extern int32_t os_alloc_count;  // live tracked blocks; main thread only
extern uint8_t os_alloc_serial; // serial stamped into the next block, wraps 255 -> 0

// Optional copy of every log line, for tests that inspect the log (null: stdout only).
extern void (*os_log_sink)(const char* line);
// Set by a program that discards its log (the fuzz targets): only assertion lines are formatted and passed on.
extern bool os_log_quiet;

// Zeroed block of at least `size` bytes. When the system has no memory, the host's os_out_of_memory hook decides:
// the tracker stops there; a library goes on and receives null.
void* os_alloc(int32_t size);

// Frees the block that *var points to and clears *var (called as os_free(&owner_field)).
void os_free_block(void** var);
template <class T> static inline void os_free(T** var) { os_free_block(reinterpret_cast<void**>(var)); }
static inline void os_free(std::nullptr_t) { os_free_block(nullptr); }

void os_log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// ---- What the host hands the engine: set once by the program before anything else runs (the tracker and its
// tools take the runtime's os_use_process_hooks). A null hook does nothing: log lines go nowhere, an allocation
// that finds no memory returns null, written files are not synced.
// Where each finished log line goes; called on either thread with the log's lock held.
extern void (*os_log_output)(const char* line);
// Called when os_alloc finds no memory, before it returns null: the tracker stops there.
extern void (*os_out_of_memory)(int32_t size);
// Has the system write a written file's bytes to the disk; 1 on success.
extern int32_t (*os_sync_file)(FILE* file);
// Has the system write the directory holding path (a rename into it) to the disk; 1 on success or nothing to do.
extern int32_t (*os_sync_directory_of)(const char* path);

// Logs the failed condition's source file and line, then carries on. The engine built for the replayer alone
// (QVL_REPLAY_ONLY), which has no log, does not even test the condition.
#if defined(QVL_REPLAY_ONLY)
#define OS_ASSERT(cond)                                                                                                \
    do {                                                                                                               \
        (void)sizeof((cond) ? 1 : 0);                                                                                  \
    } while (0)
#else
#define OS_ASSERT(cond)                                                                                                \
    do {                                                                                                               \
        if (!(cond)) os_log("assert:%s %d\n", __FILE__, __LINE__);                                                     \
    } while (0)
#endif

// Length of a NUL-terminated text, counted up to 1024 characters.
int32_t os_strlen(const char* text);

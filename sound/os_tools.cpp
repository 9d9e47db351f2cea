// Tracked allocator, diagnostic log and bounded string length. The allocator runs on the main thread; the log
// is written from both threads and serialises its one buffer with a spin lock of its own, so that the engine
// needs no thread library (the replayer links into C programs with libm alone).
#include "os_tools.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int32_t os_alloc_count;                            // live tracked blocks
uint8_t os_alloc_serial;                           // serial of the next block
void (*os_log_sink)(const char* line);             // optional second destination of each log line
bool os_log_quiet;                                 // only assertion lines are logged
void (*os_log_output)(const char* line);           // the host's destination of each log line
void (*os_out_of_memory)(int32_t size);            // the host's answer to an allocation without memory
int32_t (*os_sync_file)(FILE* file);               // the host's durable write of a file
int32_t (*os_sync_directory_of)(const char* path); // the host's durable write of a directory
[[maybe_unused]] static char os_log_buffer[1024]; // the log's one line buffer, guarded by os_log_busy
[[maybe_unused]] static std::atomic_flag os_log_busy; // held while a line is formatted and passed on: keeps the
                                                      // lines of the two threads whole
static void** os_live_slots;                       // bases of the live blocks, open-addressed (null = empty slot)
static size_t os_live_capacity;                    // slots in os_live_slots, a power of two or 0
static size_t os_live_used;                        // filled slots; at most half the capacity

static constexpr uint8_t OS_BLOCK_LIVE = 0xA5; // marker byte of a live block
static constexpr int32_t OS_BLOCK_HEADER = 8;  // marker, serial and padding before the caller's memory

// The live blocks are looked up on every free, so that a bad free never reads freed memory. The table keeps them
// without an allocation per block (one would double the allocator's work): linear probing from a hash of the
// address, grown to twice the size at half full, and removal by moving later entries of the same run back.
static size_t os_live_home(const void* base) {
    uint64_t h = (uint64_t)(uintptr_t)base;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return (size_t)h & (os_live_capacity - 1);
}

// The slot holding base, or the empty slot where it would go.
static size_t os_live_find(const void* base) {
    size_t i = os_live_home(base);
    while (os_live_slots[i] && os_live_slots[i] != base) i = (i + 1) & (os_live_capacity - 1);
    return i;
}

static bool os_live_contains(const void* base) {
    return os_live_capacity != 0 && os_live_slots[os_live_find(base)] == base;
}

// Records a new block as live; false when the record itself finds no memory.
static bool os_track_block(uint8_t* block) {
    if ((os_live_used + 1) * 2 > os_live_capacity) {
        const size_t old_capacity = os_live_capacity;
        void** old = os_live_slots;
        const size_t capacity = old_capacity ? old_capacity * 2 : 256;
        void** slots = (void**)calloc(capacity, sizeof(void*));
        if (!slots) return false;
        os_live_slots = slots;
        os_live_capacity = capacity;
        for (size_t i = 0; i < old_capacity; i++)
            if (old[i]) os_live_slots[os_live_find(old[i])] = old[i];
        free(old);
    }
    os_live_slots[os_live_find(block)] = block;
    os_live_used++;
    return true;
}

// Removes a live block's record: the entries after it in its run move back where their probe would reach them.
static void os_untrack_block(const void* base) {
    size_t hole = os_live_find(base);
    if (os_live_slots[hole] != base) return;
    os_live_slots[hole] = nullptr;
    os_live_used--;
    const size_t mask = os_live_capacity - 1;
    for (size_t i = (hole + 1) & mask; os_live_slots[i]; i = (i + 1) & mask) {
        const size_t home = os_live_home(os_live_slots[i]);
        // The entry may fill the hole when its home is not in the cyclic range (hole, i].
        if (((i - home) & mask) >= ((i - hole) & mask)) {
            os_live_slots[hole] = os_live_slots[i];
            os_live_slots[i] = nullptr;
            hole = i;
        }
    }
}

void* os_alloc(int32_t size) {
    OS_ASSERT(os_alloc_count >= 0);
    os_alloc_count++;
    const int64_t total = (((int64_t)size + OS_BLOCK_HEADER) & ~(int64_t)31) + 32;
    uint8_t* block = total > 0 ? (uint8_t*)calloc(1, (size_t)total) : nullptr;
    if (block && !os_track_block(block)) {
        free(block);
        block = nullptr;
    }
    if (!block) {
        os_log("os_alloc: out of memory for %d bytes\n", size);
        if (os_out_of_memory) os_out_of_memory(size);
        os_alloc_count--;
        return nullptr;
    }
    os_log("os_alloc: 0x%X %d (%d)\n", (unsigned)(uintptr_t)block, (int)total, os_alloc_serial);
    block[0] = OS_BLOCK_LIVE;
    block[1] = os_alloc_serial;
    os_alloc_serial++;
    return block + OS_BLOCK_HEADER;
}

void os_free_block(void** var) {
    OS_ASSERT(var != nullptr);
    if (!var) return;
    OS_ASSERT(*var != nullptr);
    if (!*var) return;
    uint8_t* base = (uint8_t*)*var - OS_BLOCK_HEADER;
    // A block freed before, or memory that never came from os_alloc, is neither read nor handed back to the
    // system allocator: either would corrupt the heap. It fails the marker check.
    const bool live = os_live_contains(base);
    os_log("os_free : 0x%X (%d)\n", (unsigned)(uintptr_t)base, live ? base[1] : 0);
    OS_ASSERT(live && base[0] == OS_BLOCK_LIVE);
    if (!live) {
        *var = nullptr;
        return;
    }
    os_untrack_block(base);
    base[0] = 0;
    free(base);
    os_alloc_count--;
    OS_ASSERT(os_alloc_count >= 0);
    *var = nullptr;
}

#if defined(QVL_REPLAY_ONLY)
// The engine built for the replayer alone has no log: nothing is formatted, and no formatting code is linked.
void os_log(const char*, ...) {}
#else
// True for the assertion line's format. Compared by hand: the quiet check runs for every allocation, and a
// fuzzer's string-comparison hooks would otherwise record each one.
static bool os_log_is_assertion(const char* format) {
    static const char prefix[] = "assert:";
    for (int32_t i = 0; prefix[i] != 0; i++)
        if (format[i] != prefix[i]) return false;
    return true;
}

void os_log(const char* format, ...) {
    if (os_log_quiet && !os_log_is_assertion(format)) return;
    // The lines are short and rare: a thread that finds the buffer taken waits for the other one's line.
    while (os_log_busy.test_and_set(std::memory_order_acquire)) {}
    memset(os_log_buffer, 0, sizeof os_log_buffer);
    va_list args;
    va_start(args, format);
    vsnprintf(os_log_buffer, sizeof os_log_buffer, format, args);
    va_end(args);
    if (os_log_output) os_log_output(os_log_buffer);
    if (os_log_sink) os_log_sink(os_log_buffer);
    os_log_busy.clear(std::memory_order_release);
}
#endif

int32_t os_strlen(const char* text) {
    OS_ASSERT(text != nullptr);
    if (!text || text[0] == 0) return 0;
    int32_t n = 1;
    while (n < 1024 && text[n] != 0) n++;
    OS_ASSERT(n < 1000);
    return n;
}

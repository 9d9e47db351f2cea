// Tracked allocator, diagnostic log and bounded string length. The allocator runs on the main thread; the log
// is written from both threads and serialises its one buffer.
#include "os_tools.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

int32_t os_alloc_count;                          // live tracked blocks
uint8_t os_alloc_serial;                         // serial of the next block
void (*os_log_sink)(const char* line);           // optional second destination of each log line
bool os_log_quiet;                               // only assertion lines are logged
static char os_log_buffer[1024];                 // the log's one line buffer, guarded by os_log_mutex
static std::mutex os_log_mutex;                  // keeps lines from the two threads whole
static std::unordered_set<void*> os_live_blocks; // bases of the live blocks, so a bad free never reads freed memory

static constexpr uint8_t OS_BLOCK_LIVE = 0xA5; // marker byte of a live block
static constexpr int32_t OS_BLOCK_HEADER = 8;  // marker, serial and padding before the caller's memory

// Records a new block as live; false when the record itself finds no memory.
static bool os_track_block(uint8_t* block) {
    try {
        os_live_blocks.insert(block);
        return true;
    } catch (const std::bad_alloc&) { return false; }
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
        os_out_of_memory(size);
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
    const bool live = os_live_blocks.count(base) != 0;
    os_log("os_free : 0x%X (%d)\n", (unsigned)(uintptr_t)base, live ? base[1] : 0);
    OS_ASSERT(live && base[0] == OS_BLOCK_LIVE);
    if (!live) {
        *var = nullptr;
        return;
    }
    os_live_blocks.erase(base);
    base[0] = 0;
    free(base);
    os_alloc_count--;
    OS_ASSERT(os_alloc_count >= 0);
    *var = nullptr;
}

void os_log(const char* format, ...) {
    if (os_log_quiet && strncmp(format, "assert:", 7) != 0) return;
    std::lock_guard<std::mutex> hold(os_log_mutex);
    memset(os_log_buffer, 0, sizeof os_log_buffer);
    va_list args;
    va_start(args, format);
    vsnprintf(os_log_buffer, sizeof os_log_buffer, format, args);
    va_end(args);
    os_log_output(os_log_buffer);
    if (os_log_sink) os_log_sink(os_log_buffer);
}

int32_t os_strlen(const char* text) {
    OS_ASSERT(text != nullptr);
    if (!text || text[0] == 0) return 0;
    int32_t n = 1;
    while (n < 1024 && text[n] != 0) n++;
    OS_ASSERT(n < 1000);
    return n;
}

// The replayer's C API: the tracker's own module reader, player, mixer and block renderer, one engine per open
// song, so that any number of songs play at once, each exactly as it plays alone. Runs on the caller's threads:
// render and position of one handle may run on two threads (the position is published as one atomic word); open
// and close may run while other handles render. Owns the open handles: each one's engine and song.
#include "quavlo_replay.h"

#include "os_tools.h"
#include "sound.h"

#include <atomic>
#include <climits>
#include <new>

struct qvl_replay {
    snd_engine engine;             // the song's own engine: voices, player, block clock
    snd_song song;                 // the song in the engine's player slot 0
    std::atomic<int32_t> position; // order position * 64 + row of the last block begun; -1 before open ends
    qvl_replay* next;              // the next open handle
};

static qvl_replay* qvl_open_handles;           // the open handles, newest first; under qvl_handles_busy
static std::atomic_flag qvl_handles_busy;      // held while the list above is read or changed
static std::atomic<int32_t> qvl_out_of_memory; // set when an allocation found no memory, during an open

static void qvl_lock_handles() {
    while (qvl_handles_busy.test_and_set(std::memory_order_acquire)) {}
}
static void qvl_unlock_handles() { qvl_handles_busy.clear(std::memory_order_release); }

// Whether handle is one that qvl_replay_open returned and qvl_replay_close has not yet closed.
static bool qvl_is_open(const qvl_replay* handle) {
    if (!handle) return false;
    qvl_lock_handles();
    bool found = false;
    for (const qvl_replay* r = qvl_open_handles; r && !found; r = r->next) found = r == handle;
    qvl_unlock_handles();
    return found;
}

// An allocation without memory makes the open that asked for it fail; the library never stops the program.
static void qvl_note_out_of_memory(int32_t) { qvl_out_of_memory.store(1); }

// The clock that seeds a song's noise sample reads the open's seed: kept here while that open reads the module.
static uint32_t qvl_seed;
static int32_t qvl_seed_clock() { return (int32_t)qvl_seed; }

qvl_replay* qvl_replay_open(const unsigned char* module, size_t size, uint32_t seed_ms) {
    if (!module || size == 0) return nullptr;
    os_out_of_memory = qvl_note_out_of_memory;
    qvl_out_of_memory.store(0);
    qvl_replay* r = (qvl_replay*)os_alloc((int32_t)sizeof(qvl_replay));
    if (!r) return nullptr;
    new (r) qvl_replay{};
    snd_init_engine(&r->engine);
    qvl_seed = seed_ms;
    r->engine.snd_clock_ms = qvl_seed_clock;
    // The reader never looks further than a module can reach, far below this.
    const int32_t length = size > (size_t)INT32_MAX ? INT32_MAX : (int32_t)size;
    r->song = snd_unpack_module(&r->engine, module, length);
    r->engine.snd_clock_ms = nullptr;
    // The same rule and repair as a module loaded into the tracker.
    if (snd_song_usable(&r->song)) snd_repair_song(&r->song);
    if (!snd_song_usable(&r->song) || qvl_out_of_memory.load()) {
        snd_free_song(&r->engine, &r->song);
        os_free(&r);
        return nullptr;
    }
    r->song.order_pos = 0;
    r->engine.end_with_song = true;
    snd_play_song(&r->engine, &r->song);
    r->position.store(0);
    qvl_lock_handles();
    r->next = qvl_open_handles;
    qvl_open_handles = r;
    qvl_unlock_handles();
    return r;
}

int qvl_replay_render(qvl_replay* handle, int16_t* out, int frames) {
    if (!out || frames < 1 || !qvl_is_open(handle)) return 0;
    snd_engine* e = &handle->engine;
    int written = 0;
    while (written < frames) {
        // Block by block, so that the position published is the one of the block the last sample came from.
        const int32_t until_block_end = e->block_done >= SND_BLOCK ? SND_BLOCK : SND_BLOCK - e->block_done;
        const int32_t n = frames - written < until_block_end ? frames - written : until_block_end;
        const int32_t got = snd_render(e, out + written, n);
        written += got;
        if (got > 0) handle->position.store(e->block_order_pos * SND_ROWS + e->block_row);
        if (got < n) break;
    }
    return written;
}

void qvl_replay_position(const qvl_replay* handle, int* order_pos, int* row) {
    const bool open = qvl_is_open(handle);
    const int32_t position = open ? handle->position.load() : -1;
    if (order_pos) *order_pos = open ? position / SND_ROWS : -1;
    if (row) *row = open ? position % SND_ROWS : -1;
}

void qvl_replay_close(qvl_replay* handle) {
    if (!handle) return;
    qvl_lock_handles();
    qvl_replay** link = &qvl_open_handles;
    while (*link && *link != handle) link = &(*link)->next;
    const bool found = *link == handle;
    if (found) *link = handle->next;
    qvl_unlock_handles();
    if (!found) return;
    snd_free_song(&handle->engine, &handle->song);
    handle->~qvl_replay();
    os_free(&handle);
}

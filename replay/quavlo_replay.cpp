// The replayer's C API: the tracker's own module reader, player and mixer, driven block by block as the audio
// thread drives them, with any number of samples handed out per call. Runs on the caller's threads; render and
// position hold audio_lock. Owns the open handle: its song and the part of the last block not yet handed out.
#include "quavlo_replay.h"

#include "os_tools.h"
#include "replay_platform.h"
#include "sound.h"

#include <climits>
#include <cstring>

struct qvl_replay {
    snd_song song;            // the song in player slot 0
    int16_t block[SND_BLOCK]; // the last mixed block
    int32_t block_pos;        // samples of block already handed out
    int32_t order_pos;        // the player's order position while block was mixed
    int32_t row;              // the player's row while block was mixed
    int32_t ended;            // 1 once the song has stopped itself
};

static qvl_replay* qvl_open_replay; // the open handle, null when none

// The block clock is moved back by this much before it could overflow (after about 1.7 years of playing).
static constexpr int32_t QVL_CLOCK_LIMIT = 1 << 30;
static constexpr int32_t QVL_CLOCK_SHIFT = 1 << 29;

// The sound engine as the sound start-up leaves it, with the noise seeded from seed_ms.
static void qvl_prepare_engine(uint32_t seed_ms) {
    sound_amplitude = 32767;
    snd_ready_players();
    snd_slot = 0;
    snd_noise_seed = 55;
    audio_blocks = 0;
    qvl_seed_ms = seed_ms;
    qvl_out_of_memory = 0;
}

qvl_replay* qvl_replay_open(const unsigned char* module, size_t size, uint32_t seed_ms) {
    if (qvl_open_replay || !module || size == 0) return nullptr;
    qvl_prepare_engine(seed_ms);
    qvl_replay* r = (qvl_replay*)os_alloc((int32_t)sizeof(qvl_replay));
    if (!r) return nullptr;
    // The reader never looks further than a module can reach, far below this.
    const int32_t length = size > (size_t)INT32_MAX ? INT32_MAX : (int32_t)size;
    r->song = snd_unpack_module(module, length);
    // The same rule and repair as a module loaded into the tracker.
    if (snd_song_usable(&r->song)) snd_repair_song(&r->song);
    if (!snd_song_usable(&r->song) || qvl_out_of_memory) {
        snd_free_song(&r->song);
        os_free(&r);
        return nullptr;
    }
    r->block_pos = SND_BLOCK;
    r->song.order_pos = 0;
    snd_play_song(&r->song);
    qvl_open_replay = r;
    return r;
}

// With audio_lock held. Mixes the next block as the audio thread does: the player's tick, then the mix. False,
// with nothing mixed, once the song has stopped itself.
static bool qvl_next_block(qvl_replay* r) {
    if (r->ended) return false;
    if (snd_players[0] == &r->song) snd_tick(&r->song, 0);
    if (r->song.state == 0) {
        r->ended = 1;
        return false;
    }
    r->order_pos = r->song.order_pos;
    r->row = r->song.row;
    snd_mix(r->block);
    audio_blocks++;
    if (audio_blocks >= QVL_CLOCK_LIMIT) {
        // The player only compares the clock with the row's start, so both move back together.
        audio_blocks -= QVL_CLOCK_SHIFT;
        r->song.row_time -= QVL_CLOCK_SHIFT;
    }
    r->block_pos = 0;
    return true;
}

int qvl_replay_render(qvl_replay* handle, int16_t* out, int frames) {
    std::lock_guard<std::recursive_mutex> hold(audio_lock);
    if (!handle || handle != qvl_open_replay || !out || frames < 1) return 0;
    int written = 0;
    while (written < frames) {
        if (handle->block_pos == SND_BLOCK && !qvl_next_block(handle)) break;
        const int available = SND_BLOCK - handle->block_pos;
        const int n = frames - written < available ? frames - written : available;
        memcpy(out + written, handle->block + handle->block_pos, (size_t)n * sizeof(int16_t));
        handle->block_pos += n;
        written += n;
    }
    return written;
}

void qvl_replay_position(const qvl_replay* handle, int* order_pos, int* row) {
    std::lock_guard<std::recursive_mutex> hold(audio_lock);
    const bool open = handle && handle == qvl_open_replay;
    if (order_pos) *order_pos = open ? handle->order_pos : -1;
    if (row) *row = open ? handle->row : -1;
}

void qvl_replay_close(qvl_replay* handle) {
    std::lock_guard<std::recursive_mutex> hold(audio_lock);
    if (!handle || handle != qvl_open_replay) return;
    snd_free_song(&handle->song);
    qvl_open_replay = nullptr;
    os_free(&handle);
}

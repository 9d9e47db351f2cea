// The block renderer: the one place where an engine's output is made. Every host takes its samples through
// snd_render (the tracker's audio output, the replayer, the command line, the benchmarks and the tests), so the
// samples never depend on who takes them or in what pieces. Runs on whichever thread the engine's host renders on.
#include "os_tools.h"
#include "sound.h"

#include <climits>
#include <cstring>

// The renderer's side of the WAV capture (the writer's side, with its file, is in sound_capture.cpp): a block that
// sounded goes into the queue, unless the writer has fallen a whole queue behind. The engine built for the
// replayer alone (QVL_REPLAY_ONLY) has no capture.
#if !defined(QVL_REPLAY_ONLY)
void wav_append(snd_engine* e, const int16_t* block) {
    snd_capture* c = &e->capture;
    if (!block || !c->taking.load(std::memory_order_acquire) || c->overflow.load(std::memory_order_relaxed)) return;
    const uint32_t queued = c->queued.load(std::memory_order_relaxed);
    if (queued - c->written.load(std::memory_order_acquire) >= (uint32_t)WAV_QUEUE_BLOCKS) {
        // The writer has fallen a whole queue behind: the capture ends there, as on a full disk.
        c->overflow.store(1, std::memory_order_release);
        return;
    }
    memcpy(c->queue + (size_t)(queued % WAV_QUEUE_BLOCKS) * SND_BLOCK, block, SND_BLOCK * sizeof(int16_t));
    c->queued.store(queued + 1, std::memory_order_release);
}
#endif

// The block clock is moved back by this much before it could overflow (after about 1.7 years of playing).
static constexpr int32_t SND_CLOCK_LIMIT = 1 << 30;
static constexpr int32_t SND_CLOCK_SHIFT = 1 << 29;

// Begins the next block: one tick of each occupied player slot, the checks that end rendering, then the count.
// False, with nothing begun, once rendering has ended.
static bool snd_begin_block(snd_engine* e) {
    if (e->ended) return false;
    bool played = false;
    for (int32_t slot = 0; slot < 2; slot++) {
        snd_song* song = e->snd_players[slot];
        if (song && snd_tick(e, song, slot) && slot == 0) played = true;
    }
    const snd_song* song = e->snd_players[0];
    if (e->end_with_song && !song) {
        // The song has stopped itself (effect 8).
        e->ended = true;
        return false;
    }
    if (played && song) {
        // Row 0 of order position 0 played again after the first row: one more pass through the song (counted
        // whatever the limit, which the replayer may set while the song plays).
        if (e->row_played && song->row == 0 && song->order_pos == 0) {
            if (e->passes < INT32_MAX) e->passes++;
            if (e->pass_limit > 0 && e->passes >= e->pass_limit) {
                e->ended = true;
                return false;
            }
        }
        e->row_played = true;
    }
    if (song) {
        e->block_order_pos = song->order_pos;
        e->block_row = song->row;
    }
    e->audio_blocks++;
    if (e->audio_blocks >= SND_CLOCK_LIMIT) {
        // The player only compares the clock with a row's start, so both move back together.
        e->audio_blocks -= SND_CLOCK_SHIFT;
        for (snd_song* s : e->snd_players)
            if (s) s->row_time -= SND_CLOCK_SHIFT;
    }
    e->block_done = 0;
    e->block_heard = false;
    return true;
}

int32_t snd_render(snd_engine* e, int16_t* out, int32_t count) {
    OS_ASSERT(e != nullptr && out != nullptr && count >= 0);
    if (!e || !out || count <= 0) return 0;
    int32_t written = 0;
    while (written < count) {
        if (e->block_done >= SND_BLOCK && !snd_begin_block(e)) break;
        const int32_t n = count - written < SND_BLOCK - e->block_done ? count - written : SND_BLOCK - e->block_done;
        e->block_heard = snd_mix_part(e, e->block, e->block_done, n) || e->block_heard;
        memcpy(out + written, e->block + e->block_done, (size_t)n * sizeof(int16_t));
        written += n;
        e->block_done += n;
#if !defined(QVL_REPLAY_ONLY)
        // The capture takes whole blocks, those that sounded.
        if (e->block_done == SND_BLOCK && e->block_heard) wav_append(e, e->block);
#endif
    }
    return written;
}

int32_t snd_skip_blocks(snd_engine* e, int32_t blocks) {
    int32_t begun = 0;
    while (begun < blocks && snd_begin_block(e)) {
        e->block_done = SND_BLOCK;
        begun++;
    }
    return begun;
}

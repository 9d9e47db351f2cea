// The replayer's C API: the tracker's own module reader, player, mixer and block renderer, one engine per open
// song, so that any number of songs play at once, each exactly as it plays alone; at 44100 or 48000 Hz through
// the band-limited resampler. Runs on the caller's threads: render and position of one handle may run on two
// threads (the position and frame count are published as atomic words); opens and closes may run while other
// handles render. Owns the open songs and the table that hands out their handles.
//
// A handle is not the song's address but a slot of the table and a serial number, both in the handle's value: a
// closed handle names a slot that is empty or holds a song opened later under another serial, so it is refused
// even when the new song's memory is where the old one's was.
#include "quavlo_replay.h"

#include "os_tools.h"
#include "quavlo_resample.h"
#include "sound.h"

#include <atomic>
#include <climits>
#include <new>

static constexpr int32_t QVL_CHUNK = 256; // engine samples converted or resampled at a time

// One open song.
struct qvl_song {
    snd_engine engine;          // the song's own engine: voices, player, block clock
    snd_song song;              // the song in the engine's player slot 0
    int32_t passes;             // plays through the order list after which the song ends; 0 never
    qvl_resampler* resampler;   // null at 22050 Hz
    int64_t input;              // engine samples rendered since the open or the last seek
    int64_t input_end;          // engine samples after which the song ended; -1 while it plays
    int64_t block_start[2];     // input index of the first sample of the two latest blocks begun, older first
    uint32_t block_position[2]; // order position * 64 + row of those blocks
    long length;                // frames of one play through, -1 for none within an hour; set by the open
    // Read by qvl_replay_position and qvl_replay_frames on any thread:
    std::atomic<uint32_t> position; // order position * 64 + row of the last frame handed out
    std::atomic<int64_t> frames;    // frames handed out since the open
};

// A place in the handle table: the handle it was handed out under and its song, both 0 when empty.
struct qvl_slot {
    uintptr_t handle;
    qvl_song* song;
};

static constexpr int32_t QVL_SLOT_BITS = 12; // low bits of a handle: slot index + 1
static constexpr uintptr_t QVL_SLOT_MASK = ((uintptr_t)1 << QVL_SLOT_BITS) - 1; // 4080 songs open at most

static qvl_slot* qvl_slots;              // the handle table, null while no song is open; under qvl_slots_busy
static int32_t qvl_slot_count;           // places in qvl_slots; under qvl_slots_busy
static int32_t qvl_open_count;           // songs open; changed by opens and closes only
static uintptr_t qvl_serial;             // serial of the last handle handed out (its bits above the slot); opens only
static std::atomic_flag qvl_slots_busy;  // held while the table is read or changed
static bool qvl_out_of_memory;           // an allocation found no memory during the open running
static uint32_t qvl_seed;                // the open's seed, the clock its noise sample reads

static void qvl_lock_slots() {
    while (qvl_slots_busy.test_and_set(std::memory_order_acquire)) {}
}
static void qvl_unlock_slots() { qvl_slots_busy.clear(std::memory_order_release); }

// The song of an open handle, or null.
static qvl_song* qvl_find(const qvl_replay* handle) {
    const uintptr_t value = (uintptr_t)handle;
    const uintptr_t index = (value & QVL_SLOT_MASK) - 1; // a value without a slot wraps to far beyond the table
    qvl_lock_slots();
    qvl_song* song = index < (uintptr_t)qvl_slot_count && qvl_slots[index].handle == value ? qvl_slots[index].song
                                                                                              : nullptr;
    qvl_unlock_slots();
    return song;
}

// Puts an opened song into a free place of the table, growing it when full; its handle, or 0 without memory.
static uintptr_t qvl_take_slot(qvl_song* song) {
    int32_t index = 0;
    while (index < qvl_slot_count && qvl_slots[index].song) index++;
    if (index == qvl_slot_count) {
        const int32_t count = qvl_slot_count + 16;
        if (count > (int32_t)QVL_SLOT_MASK) return 0;
        qvl_slot* grown = (qvl_slot*)os_alloc(count * (int32_t)sizeof(qvl_slot));
        if (!grown) return 0;
        qvl_slot* old = qvl_slots;
        qvl_lock_slots();
        for (int32_t i = 0; i < qvl_slot_count; i++) grown[i] = old[i];
        qvl_slots = grown;
        qvl_slot_count = count;
        qvl_unlock_slots();
        if (old) os_free(&old);
    }
    qvl_serial++;
    const uintptr_t handle = (qvl_serial << QVL_SLOT_BITS) | (uintptr_t)(index + 1);
    qvl_lock_slots();
    qvl_slots[index].song = song;
    qvl_slots[index].handle = handle;
    qvl_unlock_slots();
    qvl_open_count++;
    return handle;
}

// An allocation without memory makes the open that asked for it fail; the library never stops the program.
static void qvl_note_out_of_memory(int32_t) { qvl_out_of_memory = true; }

static int32_t qvl_seed_clock() { return (int32_t)qvl_seed; }

// Starts the song at row `row` of order position `order_pos` with the engine as fresh as at the open.
static void qvl_start(qvl_song* s, int32_t order_pos, int32_t row) {
    snd_engine* e = &s->engine;
    snd_init_engine(e);
    e->end_with_song = true;
    e->pass_limit = s->passes;
    s->song.order_pos = order_pos;
    snd_play_song(e, &s->song);
    s->song.row = row;
    s->input = 0;
    s->input_end = -1;
    const uint32_t position = (uint32_t)(order_pos * SND_ROWS + row);
    s->block_start[0] = s->block_start[1] = 0;
    s->block_position[0] = s->block_position[1] = position;
    if (s->resampler) qvl_resample_reset(s->resampler);
    s->position.store(position);
}

// Finds the song's length: the song played once through from its start, as quavlo-cli render --passes 1 plays
// it, by the song's own engine ticking the player without mixing (qvl_start readies the engine afresh after).
static void qvl_measure(qvl_song* s) {
    snd_engine* e = &s->engine;
    e->end_with_song = true;
    e->pass_limit = 1;
    s->song.order_pos = 0;
    snd_play_song(e, &s->song);
    const int32_t hour = 3600 * SND_RATE / SND_BLOCK; // whole blocks within an hour
    const int32_t blocks = snd_skip_blocks(e, hour + 1);
    const int64_t samples = (int64_t)blocks * SND_BLOCK;
    s->length = blocks > hour      ? -1
                : s->resampler     ? (long)qvl_resample_frames_before(s->resampler, samples)
                                   : (long)samples;
}

static void qvl_free_song(qvl_song* s) {
    snd_free_song(&s->engine, &s->song);
    if (s->resampler) {
        qvl_resample_free(s->resampler);
        os_free(&s->resampler);
    }
    s->~qvl_song();
    os_free(&s);
}

// Why module bytes cannot be opened, as far as the header tells: QVL_REPLAY_OK when they may be a song.
static int qvl_check_header(const unsigned char* module, size_t size) {
    if (!module || size < 4 || module[0] != 'Q' || module[1] != 'V') return QVL_REPLAY_NOT_A_MODULE;
    const size_t entries = (size_t)module[2] << 8 | module[3];
    if (entries == 0) return QVL_REPLAY_NO_ORDER;
    return entries > size - 4 ? QVL_REPLAY_NOT_A_MODULE : QVL_REPLAY_OK;
}

qvl_replay* qvl_replay_open_rate(const unsigned char* module, size_t size, uint32_t seed_ms, int rate, int* error) {
    int ignored = 0;
    if (!error) error = &ignored;
    *error = rate == SND_RATE || rate == 44100 || rate == 48000 ? qvl_check_header(module, size) : QVL_REPLAY_BAD_RATE;
    if (*error != QVL_REPLAY_OK) return nullptr;
    *error = QVL_REPLAY_OUT_OF_MEMORY;
    os_out_of_memory = qvl_note_out_of_memory;
    qvl_out_of_memory = false;
    qvl_song* s = (qvl_song*)os_alloc((int32_t)sizeof(qvl_song));
    if (!s) return nullptr;
    new (s) qvl_song{};
    snd_init_engine(&s->engine);
    // The clock is read only while the noise sample is made, here.
    qvl_seed = seed_ms;
    s->engine.snd_clock_ms = qvl_seed_clock;
    // The reader never looks further than a module can reach, far below this.
    const int32_t length = size > (size_t)INT32_MAX ? INT32_MAX : (int32_t)size;
    s->song = snd_unpack_module(&s->engine, module, length);
    // The same rule and repair as a module loaded into the tracker.
    if (snd_song_usable(&s->song)) snd_repair_song(&s->song);
    if (rate != SND_RATE) {
        s->resampler = (qvl_resampler*)os_alloc((int32_t)sizeof(qvl_resampler));
        if (s->resampler && !qvl_resample_init(s->resampler, rate)) os_free(&s->resampler);
    }
    // The header was checked: a song that is not usable now lacks memory.
    uintptr_t handle = 0;
    if (snd_song_usable(&s->song) && !qvl_out_of_memory && (rate == SND_RATE || s->resampler)) {
        qvl_measure(s);
        qvl_start(s, 0, 0);
        handle = qvl_take_slot(s);
    }
    if (!handle) {
        qvl_free_song(s);
        return nullptr;
    }
    *error = QVL_REPLAY_OK;
    return (qvl_replay*)handle;
}

qvl_replay* qvl_replay_open(const unsigned char* module, size_t size, uint32_t seed_ms) {
    return qvl_replay_open_rate(module, size, seed_ms, SND_RATE, nullptr);
}

// Renders up to count engine samples to out, noting where each block begins; fewer once the song has ended.
static int32_t qvl_pull(qvl_song* s, int16_t* out, int32_t count) {
    snd_engine* e = &s->engine;
    int32_t written = 0;
    while (written < count && s->input_end < 0) {
        // Block by block, so that every block's start and position are noted.
        const bool begins = e->block_done >= SND_BLOCK;
        const int32_t rest = begins ? SND_BLOCK : SND_BLOCK - e->block_done;
        const int32_t n = count - written < rest ? count - written : rest;
        const int32_t got = snd_render(e, out + written, n);
        if (begins && got > 0) {
            s->block_start[0] = s->block_start[1];
            s->block_position[0] = s->block_position[1];
            s->block_start[1] = s->input + written;
            s->block_position[1] = (uint32_t)(e->block_order_pos * SND_ROWS + e->block_row);
        }
        written += got;
        if (got < n) s->input_end = s->input + written;
    }
    s->input += written;
    return written;
}

// Renders up to count engine samples as floats; the rest of the count, after the song's end, is silence.
static int32_t qvl_pull_floats(qvl_song* s, float* out, int32_t count) {
    int16_t pulled[QVL_CHUNK];
    const int32_t got = qvl_pull(s, pulled, count < QVL_CHUNK ? count : QVL_CHUNK);
    for (int32_t i = 0; i < count; i++) out[i] = i < got ? (float)pulled[i] : 0.0f;
    return got;
}

// Publishes the position of the block that engine sample `sample` came from (one of the two latest).
static void qvl_publish(qvl_song* s, int64_t sample) {
    s->position.store(s->block_position[sample >= s->block_start[1] ? 1 : 0]);
}

// Resamples up to count frames into out (in the engine's 16-bit scale); fewer once the song has ended and the
// frames whose instants lie before its end are out.
static int32_t qvl_resampled(qvl_song* s, float* out, int32_t count) {
    qvl_resampler* r = s->resampler;
    int32_t made = 0;
    while (made < count && !(s->input_end >= 0 && r->next >= s->input_end)) {
        const int64_t needed = qvl_resample_needed(r);
        while (r->first + r->held < needed) {
            int32_t room = 0;
            float* to = qvl_resample_room(r, &room);
            const int32_t want = room < QVL_CHUNK ? room : QVL_CHUNK;
            qvl_pull_floats(s, to, want);
            qvl_resample_append(r, want);
        }
        const int64_t instant = r->next;
        out[made++] = qvl_resample_frame(r);
        qvl_publish(s, instant);
    }
    return made;
}

// Renders up to `frames` frames as 16-bit samples to out16, or as floats to outf (one of them not null); returns
// how many.
static int32_t qvl_render(qvl_replay* handle, int16_t* out16, float* outf, int32_t frames) {
    qvl_song* s = qvl_find(handle);
    if (!s || frames < 1) return 0;
    int32_t written = 0;
    for (int32_t got = 1; written < frames && got > 0; written += got) {
        const int32_t n = frames - written < QVL_CHUNK ? frames - written : QVL_CHUNK;
        float y[QVL_CHUNK];
        if (s->resampler) {
            got = qvl_resampled(s, y, n);
        } else {
            got = qvl_pull_floats(s, y, n);
            if (got > 0) qvl_publish(s, s->input - 1);
        }
        for (int32_t i = 0; i < got; i++) {
            // The engine's own samples are whole numbers and come out unchanged; the resampler's are rounded to
            // the nearest 16-bit value or scaled to floats, and clipped.
            if (outf) {
                const float f = y[i] * (1.0f / 32768.0f);
                outf[written + i] = f > 1.0f ? 1.0f : f < -1.0f ? -1.0f : f;
            } else {
                // Adding and taking away 1.5 * 2^23 rounds a float of this size to the nearest whole number.
                const float v = y[i] > 32767.0f ? 32767.0f : y[i] < -32768.0f ? -32768.0f : y[i];
                out16[written + i] = (int16_t)(int32_t)((v + 12582912.0f) - 12582912.0f);
            }
        }
    }
    s->frames.fetch_add(written);
    return written;
}

int qvl_replay_render(qvl_replay* handle, int16_t* out, int frames) {
    return out ? qvl_render(handle, out, nullptr, frames) : 0;
}

int qvl_replay_render_f32(qvl_replay* handle, float* out, int frames) {
    return out ? qvl_render(handle, nullptr, out, frames) : 0;
}

void qvl_replay_position(const qvl_replay* handle, int* order_pos, int* row) {
    const qvl_song* s = qvl_find(handle);
    const uint32_t position = s ? s->position.load() : 0;
    if (order_pos) *order_pos = s ? (int)(position / SND_ROWS) : -1;
    if (row) *row = s ? (int)(position % SND_ROWS) : -1;
}

void qvl_replay_set_passes(qvl_replay* handle, int passes) {
    qvl_song* s = qvl_find(handle);
    if (!s) return;
    s->passes = passes > 0 ? passes : 0;
    s->engine.pass_limit = s->passes;
}

long qvl_replay_length(const qvl_replay* handle) {
    const qvl_song* s = qvl_find(handle);
    return s ? s->length : -1;
}

int qvl_replay_seek(qvl_replay* handle, int order_pos, int row) {
    qvl_song* s = qvl_find(handle);
    if (!s || order_pos < 0 || order_pos >= s->song.order_len || row < 0 || row >= SND_ROWS) return 0;
    qvl_start(s, order_pos, row);
    return 1;
}

int64_t qvl_replay_frames(const qvl_replay* handle) {
    const qvl_song* s = qvl_find(handle);
    return s ? s->frames.load() : -1;
}

int qvl_replay_version(void) { return QVL_REPLAY_VERSION; }

void qvl_replay_close(qvl_replay* handle) {
    const uintptr_t value = (uintptr_t)handle;
    const uintptr_t index = (value & QVL_SLOT_MASK) - 1;
    qvl_song* s = nullptr;
    qvl_lock_slots();
    if (index < (uintptr_t)qvl_slot_count && qvl_slots[index].handle == value) {
        s = qvl_slots[index].song;
        qvl_slots[index] = qvl_slot{};
    }
    qvl_unlock_slots();
    if (!s) return;
    qvl_free_song(s);
    // With the last song gone the table goes too; handles keep counting on, so no old one comes back to life.
    if (--qvl_open_count == 0) {
        qvl_lock_slots();
        qvl_slot* table = qvl_slots;
        qvl_slots = nullptr;
        qvl_slot_count = 0;
        qvl_unlock_slots();
        os_free(&table);
    }
}

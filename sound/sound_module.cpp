// The module format in memory: packing a song's order list and patterns into module bytes, and reading module
// bytes back into a song. No file access and no output: the file commands, the command-line companion and the
// fuzz targets all go through these two. Runs on whichever thread holds the song.
#include "os_tools.h"
#include "sound.h"

#include <cstring>

static constexpr uint8_t SND_RUN = 0x80;  // item byte that starts a run of empty cells
static constexpr int32_t SND_CELLS = 256; // cells of a pattern: 4 channels x 64 rows

// ---- Packing

// Counts the bytes of a module and, while they fit into capacity, stores them at out.
struct snd_packer {
    uint8_t* out;     // where the bytes go; null to count only
    int32_t capacity; // bytes out can hold
    int32_t size;     // bytes produced so far
};

static void snd_pack_byte(snd_packer* p, uint8_t byte) {
    if (p->out && p->size < p->capacity) p->out[p->size] = byte;
    p->size++;
}

// Packs one pattern: runs of empty cells as (0x80, count), every other cell as its flag byte and the fields
// its bits 0..4 name. The last cell is always written as a cell, so no run spans two patterns.
static void snd_pack_pattern(snd_packer* p, const snd_pattern* pattern) {
    // The flag bytes lie in cell order: channel by channel, row by row.
    const uint8_t* flag_bytes = pattern->bytes + SND_FLAGS_OFFSET;
    int32_t run = 0;
    int32_t cell = 0;
    while (cell < SND_CELLS) {
        // Eight empty cells at a time while the run and the pattern have room for them (empty patterns are the
        // common case).
        if (run <= 255 - 8 && cell + 8 < SND_CELLS) {
            uint64_t eight;
            memcpy(&eight, flag_bytes + cell, sizeof eight);
            if (eight == 0) {
                run += 8;
                cell += 8;
                continue;
            }
        }
        uint8_t flags = flag_bytes[cell];
        // A lone bit 7 cannot be told apart from a run item in the file; it names no field, so the cell is
        // stored as empty rather than turning the rest of the pattern into garbage.
        if (flags == SND_RUN) flags = 0;
        if (flags == 0 && run < 255 && cell != SND_CELLS - 1) {
            run++;
            cell++;
            continue;
        }
        if (run != 0) {
            snd_pack_byte(p, SND_RUN);
            snd_pack_byte(p, (uint8_t)run);
            run = 0;
        }
        snd_pack_byte(p, flags);
        const int32_t channel = cell / SND_ROWS;
        const int32_t row = cell % SND_ROWS;
        for (int32_t field = 0; field < 5; field++)
            if (flags & (1 << field)) snd_pack_byte(p, pattern->bytes[(channel * 5 + field) * SND_ROWS + row]);
        cell++;
    }
}

int32_t snd_pack_module(const snd_song* song, uint8_t* out, int32_t capacity) {
    OS_ASSERT(song != nullptr);
    if (!song) return -1;
    const int32_t n = song->order_len;
    // A module without order entries could not be played or edited after loading; the format cannot count
    // more than 65535 entries.
    OS_ASSERT(n <= SND_ORDER_MAX);
    if (n <= 0 || n > SND_ORDER_MAX || !song->order) return -1;
    OS_ASSERT(song->pattern_count == 0 || song->patterns != nullptr);
    if (song->pattern_count != 0 && !song->patterns) return -1;
    for (int32_t i = 0; i < song->pattern_count; i++) {
        OS_ASSERT(song->patterns[i] != nullptr);
        if (!song->patterns[i]) return -1;
    }
    snd_packer p = {out, out ? capacity : 0, 0};
    snd_pack_byte(&p, 'Q');
    snd_pack_byte(&p, 'V');
    snd_pack_byte(&p, (uint8_t)(n >> 8));
    snd_pack_byte(&p, (uint8_t)n);
    for (int32_t i = 0; i < n; i++) snd_pack_byte(&p, song->order[i]);
    for (int32_t i = 0; i < song->pattern_count; i++) snd_pack_pattern(&p, song->patterns[i]);
    return p.size;
}

// ---- Reading

int32_t snd_read_module(snd_song* song, const uint8_t* data, int32_t size) {
    OS_ASSERT(song != nullptr && song->order == nullptr && song->pattern_count == 0);
    if (!song || song->order || song->pattern_count != 0) return 0;
    // Too short for the header, not a module, or an order list longer than the file: nothing is read.
    if (!data || size < 4 || data[0] != 'Q' || data[1] != 'V') return 0;
    const int32_t n = data[2] << 8 | data[3];
    if (n == 0 || n > size - 4) return 0;
    song->order = (uint8_t*)os_alloc(n);
    if (!song->order) return 0;
    memcpy(song->order, data + 4, (size_t)n);
    song->order_len = n;

    int32_t pos = 4 + n;
    snd_pattern unpacked;
    while (pos < size && song->pattern_count < SND_MAX_PATTERNS) {
        memset(&unpacked, 0, sizeof unpacked);
        bool complete = true;
        int32_t cell = 0;
        while (cell < SND_CELLS && complete) {
            if (pos >= size) {
                complete = false;
                break;
            }
            const uint8_t item = data[pos++];
            if (item == SND_RUN) {
                if (pos >= size) {
                    complete = false;
                    break;
                }
                // Eight-bit count: 0 stands for 256 cells; a run past the pattern's end is cut there.
                const int32_t run = data[pos++];
                cell += run == 0 ? 256 : run;
                continue;
            }
            const int32_t channel = cell / SND_ROWS;
            const int32_t row = cell % SND_ROWS;
            unpacked.bytes[SND_FLAGS_OFFSET + channel * SND_ROWS + row] = item;
            for (int32_t field = 0; field < 5; field++) {
                if (!(item & (1 << field))) continue;
                if (pos >= size) {
                    complete = false;
                    break;
                }
                unpacked.bytes[(channel * 5 + field) * SND_ROWS + row] = data[pos++];
            }
            cell++;
        }
        if (!complete) break; // the file ends inside this pattern: it is dropped
        const int32_t count = song->pattern_count;
        snd_add_pattern(song);
        if (song->pattern_count == count) break; // no memory for it
        memcpy(song->patterns[count], &unpacked, sizeof unpacked);
    }
    return 1;
}

snd_song snd_unpack_module(snd_engine* e, const uint8_t* data, int32_t size) {
    snd_song song;
    snd_create_song(e, &song, 0);
    snd_read_module(&song, data, size);
    return song;
}

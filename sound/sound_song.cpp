// The song: order list, pattern table and the eight generated samples, with the operations that create, edit
// and free it. Runs on the host's thread; edits of a playing song are made with the engine stopped by the host (the
// tracker holds audio_lock).
#include "os_tools.h"
#include "sound.h"
#if defined(QVL_WRITTEN_TABLES)
#include "sound_tables.h"
#endif

#include <cmath>
#include <cstring>

int16_t os_sin_table[256]; // table sine, filled before main
float os_sin_value[256];   // the table's entries scaled by 1 / 32767

// floor(32767 sin(i 6.28 / 256) + 0.25): the table's period is 6.28 radians, not 2 pi. Filled before main.
static const bool os_sin_filled = [] {
    for (int i = 0; i < 256; i++) {
#if defined(QVL_WRITTEN_TABLES)
        os_sin_table[i] = snd_sin_entries[i];
#else
        os_sin_table[i] = (int16_t)floor(32767.0 * sin(i * 6.28 / 256.0) + 0.25);
#endif
        os_sin_value[i] = (float)(os_sin_table[i] * 3.0518509447574615e-05);
        OS_ASSERT(os_sin_value[i] >= -1.0f && os_sin_value[i] <= 1.0f);
    }
    return true;
}();

int32_t snd_check_sample(const snd_engine* e, const snd_sample* sample) {
    if (!sample || sample->length <= 0) return 1;
    const int32_t low = -(e->sound_amplitude / 2);
    const int32_t high = e->sound_amplitude;
    for (int32_t i = 0; i < sample->length; i++) {
        const float v = sample->data[i];
        if (!(v >= (float)low && v <= (float)high)) return 0;
    }
    return 1;
}

// Allocates the data of a sample record that must arrive empty; returns false when it cannot be filled.
static bool snd_gen_begin(snd_engine* e, snd_sample* s, int32_t length, const char* name) {
    OS_ASSERT(s != nullptr);
    if (!s) return false;
    OS_ASSERT(s->data == nullptr);
    if (s->data) return false;
    s->data = (float*)os_alloc(length * 4);
    OS_ASSERT(s->data != nullptr);
    if (!s->data) return false;
    e->snd_live_samples++;
    s->length = length;
    s->name = name;
    return true;
}

// The generators' amplitude: an eighth of the ceiling (4095).
static float snd_gen_amplitude(const snd_engine* e) { return (float)(e->sound_amplitude >> 3); }

void snd_gen_sine(snd_engine* e, snd_sample* s) {
    if (!snd_gen_begin(e, s, 10000, "SIN")) return;
    const float a = snd_gen_amplitude(e);
    for (int32_t i = 0; i < s->length; i++) s->data[i] = a * os_sin((float)(i * (double)6.28f / 1000.0));
    OS_ASSERT(snd_check_sample(e, s));
}

void snd_gen_ramp(snd_engine* e, snd_sample* s) {
    if (!snd_gen_begin(e, s, 10000, "TRI")) return;
    const float a = snd_gen_amplitude(e);
    float v = 0;
    for (int32_t i = 0; i < s->length; i++) {
        s->data[i] = v;
        v = (float)((double)v + (double)a / 1000.0);
        if (v > a) v = -a;
    }
    OS_ASSERT(snd_check_sample(e, s));
}

void snd_gen_triangle(snd_engine* e, snd_sample* s) {
    if (!snd_gen_begin(e, s, 10000, "SAW")) return;
    const float a = snd_gen_amplitude(e);
    float d = (float)(2.0 * (double)a / 1000.0);
    float v = 0;
    for (int32_t i = 0; i < s->length; i++) {
        s->data[i] = v;
        v = v + d;
        if (v > a || v < -a) {
            d = -d;
            v = v + d;
        }
    }
    OS_ASSERT(snd_check_sample(e, s));
}

void snd_gen_square(snd_engine* e, snd_sample* s, float duty) {
    OS_ASSERT(duty > 0 && duty < 1);
    if (!snd_gen_begin(e, s, 10000, "SQR")) return;
    const float a = snd_gen_amplitude(e);
    // The product stays in double: duty 0.4 in single precision is slightly above 0.4, giving 401 high values.
    const double high = (double)duty * 1000.0;
    int32_t c = 0;
    for (int32_t i = 0; i < s->length; i++) {
        s->data[i] = c < high ? a : -a;
        if (++c == 1000) c = 0;
    }
    OS_ASSERT(snd_check_sample(e, s));
}

void snd_gen_noise(snd_engine* e, snd_sample* s) {
    if (!snd_gen_begin(e, s, 100000, "NOI")) return;
    const float a = snd_gen_amplitude(e);
    const uint32_t m = (uint32_t)(a * 200.0);
    for (int32_t start = 0; start < s->length; start += 62) {
        const uint32_t t = e->snd_noise_seed * 263u + 71u;
        const int32_t clock = e->snd_clock_ms ? e->snd_clock_ms() : 0;
        e->snd_noise_seed = t + ((uint32_t)clock & 0xFFFFu);
        const uint32_t r = m ? t % m : 0;
        const float value = (float)((double)r * (double)0.01f - (double)a);
        const int32_t end = start + 62 < s->length ? start + 62 : s->length;
        for (int32_t i = start; i < end; i++) s->data[i] = value;
    }
    OS_ASSERT(snd_check_sample(e, s));
}

snd_song snd_create_song(snd_engine* e, snd_song* song, uint8_t pattern_count) {
    OS_ASSERT(song != nullptr);
    if (!song) return snd_song{};
    memset(song, 0, sizeof *song);
    song->samples = (snd_sample*)os_alloc(SND_SAMPLE_SLOTS * (int32_t)sizeof(snd_sample));
    // Without memory for the table the song stays without samples, which no caller plays or edits.
    if (!song->samples) return *song;
    song->sample_count = SND_SAMPLES;
    snd_gen_sine(e, &song->samples[0]);
    snd_gen_ramp(e, &song->samples[1]);
    snd_gen_square(e, &song->samples[2], 0.5f);
    snd_gen_square(e, &song->samples[3], 0.4f);
    snd_gen_square(e, &song->samples[4], 0.3f);
    snd_gen_square(e, &song->samples[5], 0.2f);
    snd_gen_noise(e, &song->samples[6]);
    snd_gen_triangle(e, &song->samples[7]);
    if (pattern_count > 0) {
        song->patterns = (snd_pattern**)os_alloc(pattern_count * (int32_t)sizeof(snd_pattern*));
        for (int32_t i = 0; i < pattern_count; i++) song->patterns[i] = (snd_pattern*)os_alloc(SND_PATTERN_BYTES);
        song->pattern_count = pattern_count;
        song->order = (uint8_t*)os_alloc(pattern_count);
    }
    song->order_len = pattern_count;
    return *song;
}

void snd_free_song(snd_engine* e, snd_song* song) {
    OS_ASSERT(song != nullptr);
    if (!song) return;
    snd_stop_song(e, song);
    if (song->sample_count != 0) {
        OS_ASSERT(song->samples != nullptr);
        for (int32_t i = 0; song->samples && i < song->sample_count; i++) {
            snd_sample* s = &song->samples[i];
            OS_ASSERT(s->data != nullptr);
            if (!s->data) continue;
            os_free(&s->data);
            e->snd_live_samples--;
            OS_ASSERT(e->snd_live_samples >= 0);
        }
        if (song->samples) os_free(&song->samples);
        song->sample_count = 0;
    }
    if (song->pattern_count != 0) {
        for (int32_t i = 0; i < song->pattern_count; i++)
            if (song->patterns[i]) os_free(&song->patterns[i]);
        song->pattern_count = 0;
        os_free(&song->patterns);
    }
    if (song->order_len > 0) {
        if (song->order) os_free(&song->order);
        song->order_len = 0;
    }
}

void snd_add_pattern(snd_song* song) {
    OS_ASSERT(song != nullptr);
    if (!song) return;
    // pattern_count is 8-bit: a 256th pattern cannot be counted.
    OS_ASSERT(song->pattern_count < SND_MAX_PATTERNS);
    if (song->pattern_count >= SND_MAX_PATTERNS) return;
    snd_pattern** table = (snd_pattern**)os_alloc((song->pattern_count + 1) * (int32_t)sizeof(snd_pattern*));
    snd_pattern* added = table ? (snd_pattern*)os_alloc(SND_PATTERN_BYTES) : nullptr;
    // Without memory the song keeps the patterns it has.
    if (!added) {
        if (table) os_free(&table);
        return;
    }
    if (song->pattern_count > 0) memcpy(table, song->patterns, (size_t)song->pattern_count * sizeof(snd_pattern*));
    snd_pattern** old = song->patterns;
    table[song->pattern_count] = added;
    song->patterns = table;
    song->pattern_count++;
    if (old) os_free(&old);
}

void snd_delete_pattern(snd_song* song, int32_t index) {
    OS_ASSERT(song != nullptr && song->patterns != nullptr);
    OS_ASSERT(song && song->pattern_count >= 2);
    if (!song || !song->patterns || song->pattern_count < 2) return;
    OS_ASSERT(index >= 0 && index < song->pattern_count);
    if (index < 0 || index >= song->pattern_count) return;
    const int32_t count = song->pattern_count - 1;
    snd_pattern** table = (snd_pattern**)os_alloc(count * (int32_t)sizeof(snd_pattern*));
    os_free(&song->patterns[index]);
    for (int32_t i = 0, j = 0; i < song->pattern_count; i++)
        if (i != index) table[j++] = song->patterns[i];
    snd_pattern** old = song->patterns;
    song->patterns = table;
    song->pattern_count = (uint8_t)count;
    os_free(&old);
    for (int32_t i = 0; i < song->order_len; i++)
        if (song->order[i] >= song->pattern_count) song->order[i] = 0;
}

void snd_insert_order(snd_song* song, int32_t index) {
    OS_ASSERT(song != nullptr);
    OS_ASSERT(index >= 0);
    if (!song || index < 0) return;
    // The file format counts order entries in 16 bits.
    OS_ASSERT(song->order_len < 65535);
    if (song->order_len >= 65535) return;
    uint8_t* list = (uint8_t*)os_alloc(song->order_len + 1);
    const bool insert_here = song->pattern_count > 0 && index < song->order_len;
    for (int32_t i = 0, j = 0; i < song->order_len; i++) {
        if (insert_here && i == index) j++; // the new 0 entry, already zero
        list[j++] = song->order[i];
    }
    uint8_t* old = song->order;
    song->order = list;
    song->order_len++;
    if (old) os_free(&old);
}

void snd_delete_order(snd_song* song, int32_t index) {
    OS_ASSERT(song != nullptr);
    if (!song) return;
    OS_ASSERT(index >= 0 && index < song->order_len);
    if (index < 0 || index >= song->order_len) return;
    // Playback and the editor need an entry to stand on: the last one stays.
    OS_ASSERT(song->order_len > 1);
    if (song->order_len <= 1) return;
    uint8_t* list = (uint8_t*)os_alloc(song->order_len - 1);
    for (int32_t i = 0, j = 0; i < song->order_len; i++)
        if (i != index) list[j++] = song->order[i];
    uint8_t* old = song->order;
    song->order = list;
    song->order_len--;
    os_free(&old);
    if (song->order_pos >= song->order_len) song->order_pos = song->order_len - 1;
}

bool snd_song_usable(const snd_song* song) {
    return song && song->sample_count > 0 && song->samples && song->order_len > 0 && song->order;
}

void snd_repair_song(snd_song* song) {
    OS_ASSERT(song != nullptr);
    if (!song) return;
    if (song->pattern_count == 0) snd_add_pattern(song);
    for (int32_t i = 0; i < song->order_len; i++)
        if (song->order[i] >= song->pattern_count) song->order[i] = 0;
}

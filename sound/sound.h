// The sound engine's records and functions: the song and its generated samples, the voices and the mixer,
// the song player, and the module, C header and WAV files that carry a song out of the program.
//
// Threads: the main thread edits songs and starts, stops and previews; the audio thread ticks the player and
// mixes. Both hold audio_lock (recursive) while they touch songs, patterns, voices or player state.
#pragma once
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "os_tools.h"

constexpr int32_t SND_BLOCK = 1102;         // samples per audio block
constexpr int32_t SND_RATE = 22050;         // output samples per second
constexpr int32_t SND_CHANNELS = 4;         // channels of a pattern
constexpr int32_t SND_ROWS = 64;            // rows of a pattern
constexpr int32_t SND_PATTERN_BYTES = 1536; // size of a pattern block
constexpr int32_t SND_FLAGS_OFFSET = 1280;  // flag bytes follow the 20 planes
constexpr int32_t SND_MAX_PATTERNS = 255;   // pattern_count is 8-bit
constexpr int32_t SND_VOICES = 10;          // voices per bank
constexpr int32_t SND_SAMPLE_SLOTS = 11;    // records allocated in a sample table
constexpr int32_t SND_SAMPLES = 8;          // generated samples per song
constexpr int32_t SND_NOTES = 120;          // entries of snd_note_freq
constexpr int32_t SND_ORDER_MAX = 65535;    // the module format counts order entries in 16 bits

// Cell flag bits: bit j marks field j of the cell as present.
enum : uint8_t { SND_HAS_NOTE = 1, SND_HAS_SAMPLE = 2, SND_HAS_VOLUME = 4, SND_HAS_EFFECT = 8, SND_HAS_PARAM = 16 };
enum { SND_FIELD_NOTE, SND_FIELD_SAMPLE, SND_FIELD_VOLUME, SND_FIELD_EFFECT, SND_FIELD_PARAM };

// 4 channels x 64 rows: plane p = channel * 5 + field at p * 64, then one flag byte per channel and row.
struct snd_pattern {
    uint8_t bytes[SND_PATTERN_BYTES];
};

inline uint8_t* snd_cell_field(snd_pattern* p, int32_t channel, int32_t field, int32_t row) {
    return &p->bytes[(channel * 5 + field) * SND_ROWS + row];
}
inline uint8_t* snd_cell_flags(snd_pattern* p, int32_t channel, int32_t row) {
    return &p->bytes[SND_FLAGS_OFFSET + channel * SND_ROWS + row];
}

struct snd_sample {
    const char* name; // static three-letter label
    float* data;      // sample values, owned by the song
    int32_t length;   // number of values in data
};

struct snd_song {
    int32_t order_len;      // entries in the order list
    int32_t order_pos;      // current order position
    uint8_t* order;         // order list: pattern index per entry
    snd_pattern** patterns; // pattern table, pattern_count pointers
    snd_sample* samples;    // sample table (room for 11, sample_count filled)
    int32_t row_time;       // player: audio_blocks at which the current row began
    int32_t sample_count;   // filled sample records (8)
    int32_t pattern;        // current pattern: the one shown and edited; set by the player in song mode
    int32_t row;            // player: current row 0..63
    int32_t speed;          // player: audio blocks per row
    int32_t next_row;       // player: row to continue at on the next row step, -1 for none
    uint8_t state;          // player: 0 stopped, 1 starting, 2 playing
    uint8_t pattern_count;  // patterns in the table
};

struct snd_voice {
    snd_sample* sample;      // sample being played
    float volume;            // current gain
    float target_volume;     // gain that volume glides toward
    float arp_step[2][3];    // per oscillator: base, base + high-nibble interval, base + low-nibble interval
    float phase[2];          // read positions of the two oscillators
    float base_step[2];      // centre steps (vibrato centre, arpeggio base)
    float target_step[2];    // steps that the current steps glide toward
    float step[2];           // current steps
    float vib_rate;          // vibrato angle per counted sample, radians
    float vib_depth;         // vibrato depth in steps
    int32_t channel_pattern; // pattern the channel reads instead of the song's, -1 for none
    int32_t counter;         // vibrato angle count and arpeggio timer
    int32_t arp_index;       // current arpeggio step 0..2
    int32_t countdown;       // output samples until the voice stops; 0 or less: no limit
    uint16_t semitone;       // semitone of the last note
    uint16_t octave;         // octave of the last note
    uint8_t active;          // the voice sounds
    uint8_t effect;          // last effect byte applied
    uint8_t arp_param;       // last arpeggio parameter, 0 = none
    uint8_t fading;          // the countdown also fades the gain out
    uint8_t vibrato;         // vibrato on
    uint8_t arpeggio;        // arpeggio on
    uint8_t enabled;         // channel switched on (mute switch)
};

// ---- Song model and generated samples (sound_song.cpp)
extern uint16_t sound_amplitude;  // clip ceiling, 32767 once the sound system has started
extern int32_t snd_live_samples;  // sample data blocks alive
extern uint32_t snd_noise_seed;   // noise generator state, 55 at start
extern int16_t os_sin_table[256]; // table sine over a period of 6.28 radians
extern int32_t (*snd_clock_ms)(); // millisecond clock that seeds the noise sample (os_time_ms by default)

extern float os_sin_value[256]; // os_sin_table scaled to -1..1, the values os_sin returns

constexpr double OS_SIN_SCALE = 40.76433121019108; // table entries per radian: 256 / 6.28

// Table sine: 256 entries over 6.28 radians. Inline because the mixer's vibrato calls it for every sample.
inline float os_sin(float x) {
    const double scaled = (double)x * OS_SIN_SCALE;
    const int32_t index = (scaled > -2147483648.0 && scaled < 2147483648.0 ? (int32_t)scaled : 0) & 255;
    return os_sin_value[index];
}

snd_song snd_create_song(snd_song* song, uint8_t pattern_count);
void snd_free_song(snd_song* song);
void snd_add_pattern(snd_song* song);
void snd_delete_pattern(snd_song* song, int32_t index);
void snd_insert_order(snd_song* song, int32_t index);
void snd_delete_order(snd_song* song, int32_t index);
int32_t snd_check_sample(const snd_sample* sample);
void snd_gen_sine(snd_sample* s);
void snd_gen_ramp(snd_sample* s);
void snd_gen_square(snd_sample* s, float duty);
void snd_gen_noise(snd_sample* s);
void snd_gen_triangle(snd_sample* s);
// A song the player and editor can use: it has samples and at least one order entry.
bool snd_song_usable(const snd_song* song);
// Adds one empty pattern to a song without patterns and points order entries beyond the table at pattern 0.
void snd_repair_song(snd_song* song);

// ---- Voices and mixer (sound_synth.cpp)
extern snd_voice snd_voices[2][SND_VOICES]; // two banks, one per player slot
extern int32_t snd_slot;                    // bank addressed by the voice operations
extern float snd_note_freq[SND_NOTES];      // note index -> frequency in Hz

void snd_reset_voices(int32_t bank);
void snd_play_note(int32_t semitone, int32_t octave, int32_t voice, snd_sample* sample, int32_t duration);
void snd_note_on(snd_sample* sample, int32_t voice, float freq, int32_t duration);
void snd_set_effect(int32_t voice, uint8_t param, uint8_t effect);
void snd_mix(int16_t* block); // with audio_lock held
// Mixes samples from..from + count - 1 of the block being played into block + from, without capturing them;
// true when they sound, false when the rest of the block is silence. A block mixed part by part gives the same
// samples as snd_mix; a voice started between parts sounds from the next part.
bool snd_mix_part(int16_t* block, int32_t from, int32_t count);
// The same mix with every voice taken one sample at a time through all of its per-sample steps: the
// straightforward form of the arithmetic, kept as the reference snd_mix's stretches are checked against.
void snd_mix_per_sample(int16_t* block);

// ---- Song player (sound_player.cpp)
extern std::recursive_mutex audio_lock; // the one lock between the main and the audio thread
extern int32_t audio_blocks;            // blocks filled by the audio thread: the player's clock
extern snd_song* snd_players[2];        // player slots, null when empty
extern uint8_t snd_song_mode;           // 1 song mode, 0 pattern mode
extern int32_t snd_arp_period;          // arpeggio step length in output samples

// Both voice banks at rest with the four channel voices switched on, and both player slots empty: the state the
// sound start-up leaves the player in.
void snd_ready_players();
void snd_play_song(snd_song* song);
void snd_play_pattern(snd_song* song);
void snd_stop_song(snd_song* song);
bool snd_tick(snd_song* song, int32_t slot);
snd_pattern* snd_channel_pattern(snd_song* song, int32_t channel);

// ---- Module format in memory (sound_module.cpp)
// Packs the song as module bytes into out (null: only counts). Returns the module's size, which may exceed
// capacity (then only the first capacity bytes are stored), or -1 when the song cannot be stored: no order
// entries, more than 65535 of them, or a missing pattern.
int32_t snd_pack_module(const snd_song* song, uint8_t* out, int32_t capacity);
// Reads module bytes into a song that has no order list and no patterns yet (its samples are left alone):
// the order list as stored and every pattern that is complete. Returns 0, with the song unchanged, when the
// bytes are not a module with at least one order entry.
int32_t snd_read_module(snd_song* song, const uint8_t* data, int32_t size);
// A fresh song with the eight samples, then snd_read_module.
snd_song snd_unpack_module(const uint8_t* data, int32_t size);

// ---- Files (sound_files.cpp)
extern FILE* wav_file;      // open capture, null when none; set and withdrawn under audio_lock
extern int32_t wav_samples; // samples appended since wav_start
extern int32_t wav_failed;  // 1 once an append failed and ended the capture; under audio_lock, the application clears it

int32_t save_module(const char* path, const snd_song* song);
snd_song load_module(const char* path);
int32_t export_c_header(const char* path, const char* name, const snd_song* song);
// The array name of the header written to path: the file's name without directory, cut before its first '.',
// made a C identifier: every byte other than a letter, digit or '_' becomes '_', and a name that would start
// with a digit (or be empty) gets a '_' in front. Stores at most capacity - 1 bytes and a terminating zero;
// returns the name's whole length.
int32_t snd_header_name(const char* path, char* name, int32_t capacity);
void wav_start();
int32_t wav_stop();
int32_t wav_write_header(FILE* file, int32_t data_size);
// Mixer's append of one computed block to a running capture. When the block cannot be written whole (disk full,
// I/O error), the capture ends there: the header gets the sizes of the samples that reached the file, the file is
// closed, wav_file becomes null and wav_failed 1. Playback is not touched.
void wav_append(const int16_t* block);

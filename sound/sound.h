// The sound engine's records and functions: the song and its generated samples, the voices and the mixer,
// the song player, the one block renderer, and the module, C header and WAV files that carry a song out of the
// program.
//
// Everything a playing song changes lives in one record, snd_engine: the voices, the player slots, the block
// clock, the noise seed and the WAV capture. Every function that touches playing state takes the engine first, so
// several engines can play in one process, each giving exactly the samples it gives alone. An engine is used by one
// thread at a time: its host serialises the calls (the tracker holds audio_lock; the replayer one handle per song).
// The engine includes no platform header, prints nothing, never exits and starts no thread: the log and memory come
// from os_tools' host hooks, the clock from the engine's snd_clock_ms.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstdio>

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

// Effect commands: the low nibble of a cell's effect byte, the parameter byte beside it. The player carries out
// SND_FX_OFF (its note off), SND_FX_PATTERN, SND_FX_STOP, SND_FX_ROW, SND_FX_JUMP and SND_FX_SPEED itself;
// snd_set_effect applies every other command to the voice (and resets it for a whole byte of 0).
enum : uint8_t {
    SND_FX_OFF = 0x0,        // note off; the whole byte 0 also ends every effect of the voice
    SND_FX_SLIDE_UP = 0x1,   // both target steps rise by param * 1000 / 22050
    SND_FX_SLIDE_DOWN = 0x2, // both target steps fall by as much, not below 0
    SND_FX_ARPEGGIO = 0x3,   // note, + high nibble, + low nibble semitones, a step every snd_arp_period samples
    SND_FX_FADE = 0x4,       // the gain fades out over param blocks, then the voice stops
    SND_FX_PATTERN = 0x5,    // the channel plays pattern param until the end of the current one
    SND_FX_DETUNE = 0x6,     // the second oscillator param * 0.01 steps above the first
    SND_FX_VIBRATO = 0x7,    // rate from the high nibble, depth from the low one
    SND_FX_STOP = 0x8,       // the song stops
    SND_FX_ROW = 0xB,        // the next row played is row param of the same pattern
    SND_FX_JUMP = 0xD,       // the next row played is row 0 of order position param (255: the next position)
    SND_FX_SPEED = 0xF,      // blocks per row from the low nibble, arpeggio period 5510 / high nibble
};
constexpr uint8_t SND_FX_INVERTED = 2; // an effect byte's high nibble that turns the voice's output over

// Cell flag bits: bit j marks field j of the cell as present.
enum : uint8_t { SND_HAS_NOTE = 1, SND_HAS_SAMPLE = 2, SND_HAS_VOLUME = 4, SND_HAS_EFFECT = 8, SND_HAS_PARAM = 16 };
enum { SND_FIELD_NOTE, SND_FIELD_SAMPLE, SND_FIELD_VOLUME, SND_FIELD_EFFECT, SND_FIELD_PARAM };

// 4 channels x 64 rows: plane p = channel * 5 + field at p * 64, then one flag byte per channel and row.
// (The header's functions are static inline: a library built from the engine keeps no shared copies of them that
// could meet the embedding program's symbols.)
struct snd_pattern {
    uint8_t bytes[SND_PATTERN_BYTES];
};

static inline uint8_t* snd_cell_field(snd_pattern* p, int32_t channel, int32_t field, int32_t row) {
    return &p->bytes[(channel * 5 + field) * SND_ROWS + row];
}
static inline uint8_t* snd_cell_flags(snd_pattern* p, int32_t channel, int32_t row) {
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

extern int16_t os_sin_table[256];      // table sine over a period of 6.28 radians; constant once filled before main
extern float os_sin_value[256];        // os_sin_table scaled to -1..1, the values os_sin returns
extern float snd_note_freq[SND_NOTES]; // note index -> frequency in Hz; constant once filled before main

constexpr double OS_SIN_SCALE = 40.76433121019108; // table entries per radian: 256 / 6.28

// Table sine: 256 entries over 6.28 radians. Inline because the mixer's vibrato calls it for every sample.
static inline float os_sin(float x) {
    const double scaled = (double)x * OS_SIN_SCALE;
    const int32_t index = (scaled > -2147483648.0 && scaled < 2147483648.0 ? (int32_t)scaled : 0) & 255;
    return os_sin_value[index];
}

constexpr int32_t WAV_QUEUE_BLOCKS = 256; // blocks the capture's queue holds: 12.8 s of audio

// The WAV capture of an engine. The renderer hands every whole block that sounded to a queue (never writing to the
// file itself); the host's main loop writes the queued blocks with wav_drain, so that a slow or stalled disk never
// holds up the sound. One renderer thread and one writer thread: the queue's two counters are the only fields both
// touch.
struct snd_capture {
    FILE* wav_file = {};                // open capture, null when none; the writer's
    const char* wav_path = {};          // its name when wav_start opened it ("song.wav"), else null
    int32_t wav_samples = {};           // samples that reached the file; the writer's
    int32_t wav_failed = {};            // 1 once a write failed or the queue overflowed and the capture ended; the
                                        // writer sets it, the application clears it
    int16_t* queue = {};                // WAV_QUEUE_BLOCKS blocks in a ring, from os_alloc while a capture runs
    std::atomic<uint32_t> queued = {};  // blocks handed to the queue so far; the renderer advances it
    std::atomic<uint32_t> written = {}; // blocks taken from the queue so far; the writer advances it
    std::atomic<uint8_t> taking = {};   // 1 while the renderer hands blocks over; the writer sets and clears it with
                                        // the renderer stopped (under the host's lock)
    std::atomic<uint8_t> overflow = {}; // 1 once a block found the queue full; set by the renderer
    // The capture's file writes: fwrite, or a test's slow one.
    size_t (*write)(const void* data, size_t size, size_t count, FILE* file) = nullptr;
};

// All of the engine's mutable state: one record per playing song (the tracker's one, or each of the replayer's).
struct snd_engine {
    snd_voice snd_voices[2][SND_VOICES] = {}; // two banks, one per player slot; voice i plays channel i
    snd_song* snd_players[2] = {};            // songs in the two player slots, null when empty
    int32_t snd_slot = {};                    // bank addressed by snd_play_note, snd_note_on and snd_set_effect
    uint8_t snd_song_mode = 1;                // 1 song mode, 0 pattern mode
    int32_t snd_arp_period = {};              // arpeggio step length in output samples
    int32_t audio_blocks = {};                // blocks begun by the renderer: the player's clock
    uint32_t snd_noise_seed = 55;             // noise generator state, 55 at start
    uint16_t sound_amplitude = {};            // clip ceiling, 32767 once the engine is ready
    int32_t snd_live_samples = {};            // sample data blocks alive in songs made by this engine
    int32_t (*snd_clock_ms)() = nullptr;      // millisecond clock that seeds the noise sample; null reads 0
    // The block being rendered: snd_render hands it out in pieces of any size.
    int16_t block[SND_BLOCK] = {};  // the block's samples as far as mixed
    int32_t block_done = SND_BLOCK; // samples of block mixed and handed out; SND_BLOCK before the first
    bool block_heard = {};          // a part of the block sounded
    int32_t block_order_pos = {};   // slot 0's order position when the block began (0 before any)
    int32_t block_row = {};         // slot 0's row when the block began (0 before any)
    // Where rendering ends (the replayer and the command line; the tracker renders for ever).
    bool end_with_song = {};  // rendering ends once slot 0 is empty (its song stopped itself)
    int32_t pass_limit = {};  // rendering ends when slot 0's song comes back to its start this many
                              // times; 0 never
    int32_t passes = {};      // returns to the start counted so far
    bool row_played = {};     // slot 0's song has played a row since the engine was readied
    bool ended = {};          // rendering has ended: snd_render gives no more samples
    snd_capture capture = {}; // the WAV capture
};

// The engine as the sound start-up leaves it: clip ceiling 32767, both voice banks at rest with the four channel
// voices switched on, both player slots empty, block clock 0, noise seed 55, no capture, nothing ended. The clock
// and the capture's writer are kept.
void snd_init_engine(snd_engine* e);

// ---- Song model and generated samples (sound_song.cpp)

snd_song snd_create_song(snd_engine* e, snd_song* song, uint8_t pattern_count);
// Stops the song in e's player and frees its tables and samples.
void snd_free_song(snd_engine* e, snd_song* song);
void snd_add_pattern(snd_song* song);
void snd_delete_pattern(snd_song* song, int32_t index);
void snd_insert_order(snd_song* song, int32_t index);
void snd_delete_order(snd_song* song, int32_t index);
int32_t snd_check_sample(const snd_engine* e, const snd_sample* sample);
void snd_gen_sine(snd_engine* e, snd_sample* s);
void snd_gen_ramp(snd_engine* e, snd_sample* s);
void snd_gen_square(snd_engine* e, snd_sample* s, float duty);
void snd_gen_noise(snd_engine* e, snd_sample* s);
void snd_gen_triangle(snd_engine* e, snd_sample* s);
// A song the player and editor can use: it has samples and at least one order entry.
bool snd_song_usable(const snd_song* song);
// Adds one empty pattern to a song without patterns and points order entries beyond the table at pattern 0.
void snd_repair_song(snd_song* song);

// ---- Voices and mixer (sound_synth.cpp)
void snd_reset_voices(snd_engine* e, int32_t bank);
void snd_play_note(snd_engine* e, int32_t semitone, int32_t octave, int32_t voice, snd_sample* sample,
                   int32_t duration);
void snd_note_on(snd_engine* e, snd_sample* sample, int32_t voice, float freq, int32_t duration);
void snd_set_effect(snd_engine* e, int32_t voice, uint8_t param, uint8_t effect);
// Mixes a whole block and hands it to a running capture when it sounds (no tick, no count: snd_render does both).
void snd_mix(snd_engine* e, int16_t* block);
// Mixes samples from..from + count - 1 of the block being played into block + from, without capturing them;
// true when they sound, false when the rest of the block is silence. A block mixed part by part gives the same
// samples as snd_mix; a voice started between parts sounds from the next part.
bool snd_mix_part(snd_engine* e, int16_t* block, int32_t from, int32_t count);
// The same mix with every voice taken one sample at a time through all of its per-sample steps: the
// straightforward form of the arithmetic, kept as the reference snd_mix's stretches are checked against.
void snd_mix_per_sample(snd_engine* e, int16_t* block);

// ---- Song player (sound_player.cpp)
// Both voice banks at rest with the four channel voices switched on, and both player slots empty.
void snd_ready_players(snd_engine* e);
void snd_play_song(snd_engine* e, snd_song* song);
void snd_play_pattern(snd_engine* e, snd_song* song);
void snd_stop_song(snd_engine* e, snd_song* song);
bool snd_tick(snd_engine* e, snd_song* song, int32_t slot);
snd_pattern* snd_channel_pattern(snd_engine* e, snd_song* song, int32_t channel);

// ---- The block renderer (sound_render.cpp)
// Writes the next count samples of the engine's output to out and returns how many it wrote: all of them, unless
// rendering has ended (end_with_song, pass_limit), and from then on 0. Each block of SND_BLOCK samples begins
// with one player tick of every occupied slot and one count of audio_blocks, before its first sample; a block is
// mixed in as many pieces as the calls cut it into, with the same samples, and the capture takes each whole block
// that sounded when its last sample is mixed. How the calls cut the output never changes a sample.
int32_t snd_render(snd_engine* e, int16_t* out, int32_t count);
// Begins up to `blocks` blocks as snd_render does, ticking the players and applying the ending rules, without
// mixing them; returns how many began (fewer once rendering has ended). The voices do not move, so the engine's
// later samples are not the song's: an engine that skips serves only to count a song's blocks.
int32_t snd_skip_blocks(snd_engine* e, int32_t blocks);

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
snd_song snd_unpack_module(snd_engine* e, const uint8_t* data, int32_t size);

// ---- Files (sound_files.cpp)
int32_t save_module(const char* path, const snd_song* song);
snd_song load_module(snd_engine* e, const char* path);
int32_t export_c_header(const char* path, const char* name, const snd_song* song);
// The array name of the header written to path: the file's name without directory, cut before its first '.',
// made a C identifier: every byte other than a letter, digit or '_' becomes '_', and a name that would start
// with a digit (or be empty) gets a '_' in front. Stores at most capacity - 1 bytes and a terminating zero;
// returns the name's whole length.
int32_t snd_header_name(const char* path, char* name, int32_t capacity);
int32_t wav_write_header(FILE* file, int32_t data_size);
// Appends samples to a WAV file's data as 16-bit little-endian values; returns the bytes written.
size_t wav_write_samples(FILE* file, const int16_t* samples, int32_t count,
                         size_t (*write)(const void*, size_t, size_t, FILE*));

// ---- WAV capture (sound_capture.cpp). wav_start, wav_capture_into and wav_end_taking run while the renderer does
// not (the tracker holds audio_lock); wav_drain on the writer's thread at any time; wav_stop on the writer's thread
// while the renderer does not run, or at any time after wav_end_taking.
// Starts a capture into "song.wav" in the current directory (a capture still running is finished first). When the
// file cannot be created, no capture runs and wav_failed is 1, as after a failed write.
void wav_start(snd_engine* e);
// Starts a capture into an open file, just past the header the caller wrote. False (nothing started) when the
// queue finds no memory.
bool wav_capture_into(snd_engine* e, FILE* file);
// From now on the renderer hands no more blocks over; those already queued are still written.
void wav_end_taking(snd_engine* e);
// Writes the queued blocks to the file. When a write fails (disk full, I/O error) or the queue overflowed, the
// capture ends there as a finished file: the header counts the samples that reached it (a half sample is cut off),
// the file is closed, wav_file becomes null and wav_failed 1. Returns the blocks written.
int32_t wav_drain(snd_engine* e);
// Ends the capture: the renderer hands nothing more over, the queue is written, the header gets its sizes and the
// file is closed; the queue goes. Returns fclose's result (EOF, and an assertion, when no capture ran; EOF when its
// file had already been closed by a failed write).
int32_t wav_stop(snd_engine* e);
// The renderer's side (sound_render.cpp): hands one mixed block to a running capture's queue. Not in the engine
// built for the replayer alone (QVL_REPLAY_ONLY).
void wav_append(snd_engine* e, const int16_t* block);

// Audio output: the tracker's sound engine and the lock around it, the ring of sample blocks queued on the
// wave-output device, the audio thread that renders a block for every block the device hands back (or, for a
// device that takes its samples as it plays, the samples it asks for, rendered on its own thread), and the start and
// stop of the whole sound system.
#pragma once
#include "audio_device.h"
#include "sound.h"

#include <cstdint>
#include <mutex>

constexpr int32_t AUDIO_RING_BLOCKS = 10;                             // blocks in audio_ring
constexpr int32_t AUDIO_RING_SAMPLES = AUDIO_RING_BLOCKS * SND_BLOCK; // 11020
constexpr int32_t AUDIO_HEADERS = 10;                                 // wave headers
constexpr int32_t AUDIO_PRIME_BLOCKS = 4; // blocks kept queued on a device fed block for block
constexpr int32_t AUDIO_BLOCK_BYTES = SND_BLOCK * (int32_t)sizeof(int16_t); // 2204
constexpr int32_t AUDIO_CLOCK_MAX_MS = 250;     // without a device: the most time audio_keep_time catches up at once
constexpr int32_t AUDIO_SCRATCH_SAMPLES = 2048; // without a device: samples rendered into the scratch buffer at a time

extern snd_engine audio_engine;                   // the engine the sound device plays: the tracker's song, its
                                                  // voices and player, the block clock and the WAV capture
extern std::recursive_mutex audio_lock;           // the one lock between the main and the audio thread: held
                                                  // around every use of audio_engine and of the songs it plays
extern int16_t audio_ring[AUDIO_RING_SAMPLES];    // ten blocks of samples; a queued block is never rewritten
extern audio_header audio_headers[AUDIO_HEADERS]; // the headers; user = in-use marker
extern int32_t audio_write_pos;                   // sample index of the next block of audio_ring to fill
extern audio_dev* audio_device;                   // the open device, null while none is open

// Starts the audio thread (the default creates a std::thread running audio_thread); false when it could not be
// started. Tests swap in one that fails.
extern bool (*audio_start_thread)();

// Starts the sound system: the engine readied, the device opened (or, when none opens, the clock keeping time).
void init_sounds();
// Ends the audio thread, which may be waiting for audio_lock: the caller must not hold it.
void deinit_sounds();
// Starts the audio thread and opens the device; true when one is open (also when it already was). When none opens,
// the thread ends again and the song's time is kept by audio_keep_time until a later call opens one. Main thread,
// without audio_lock held: a device's thread may be waiting for it while the open waits for that thread.
bool audio_open();
// Ends the audio thread; the caller must not hold audio_lock.
void audio_close();
// While no device is open: renders the samples the time since the last call stands for (up to
// AUDIO_CLOCK_MAX_MS at once) into a scratch buffer, so that a song moves on at its speed and a WAV capture records
// it. Nothing while a device plays. Main thread, once per step; takes audio_lock for the moment it renders.
void audio_keep_time();
// Renders and queues up to count blocks into the free headers. Takes audio_lock itself.
void audio_fill(int32_t count);
// audio_pull (declared in audio_device.h) serves a device that takes its samples as it plays.
// The audio thread's procedure: waits for block-done and quit messages; returns 0 after quit.
int32_t audio_thread(void* parameter);
// True while the audio thread runs (from its start until its last act).
bool audio_thread_running();

// The wave-output device layer: what the portable audio output (audio.cpp) needs from a sound device. Exactly one
// backend implements these functions in each program, chosen at link time: the SDL2 one (backends/sdl/audio_sdl.cpp)
// or the Win32 one (backends/win32/audio_win32.cpp) for the tracker, the manual test device for the tests
// (tests/support/manual_audio_device.cpp).
//
// Threads: open, queue, reset and close are called by the main thread or the audio thread; the device hands
// finished blocks back as block-done messages to the audio thread's message queue, which the device layer also
// provides. No native type appears here.
#pragma once
#include <cstdint>

// One queued block of samples; stands for the platform's wave header. The portable code owns the headers.
struct audio_header {
    int16_t* data;         // the block's samples, inside audio_ring
    int32_t length;        // bytes of data
    int32_t recorded;      // bytes the device has taken so far
    uintptr_t user;        // in-use marker: 1 from the fill until the audio thread has taken the header back
    uint32_t flags;        // device bookkeeping
    uint32_t loops;        // loop count, always 0
    audio_header* next;    // link, free for the device
    uintptr_t reserved[2]; // free for the device
};

// The output format, filled in once when the device is opened.
struct audio_format {
    uint16_t format_tag;       // 1: PCM
    uint16_t channels;         // 1: mono
    uint32_t rate;             // samples per second: 22050
    uint32_t bytes_per_second; // 44100
    uint16_t block_align;      // bytes per sample frame: 2
    uint16_t bits;             // bits per sample: 16
};

// Called by the device once for every queued block it has finished with (played, or returned by a reset), in
// the order the blocks were queued. It must only post to the audio thread: it may run on the device's thread.
// The audio output passes audio_dev_post_done; a device whose system posts block-done messages to the audio
// thread by itself (Win32) need not call it.
typedef void (*audio_done_fn)(audio_header* header);

struct audio_dev; // a backend's open device

// Name of the backend for the start-up log line ("SDL2_AUDIO", "TEST_AUDIO").
const char* audio_dev_name();
// Opens the default output device in the given format; null when no device could be opened.
audio_dev* audio_dev_open(const audio_format* format, audio_done_fn done);
// Queues one block behind the ones already queued.
void audio_dev_queue(audio_dev* device, audio_header* header);
// Hands every queued block back through the block-done notification and stops playing; 1 on success.
int32_t audio_dev_reset(audio_dev* device);
// Closes the device; no notification follows.
void audio_dev_close(audio_dev* device);

// ---- The audio thread's message queue, a service of the device layer: the SDL2 and test devices keep a queue of
// their own (audio_queue.cpp), the Win32 device uses the audio thread's Windows message queue, to which the system
// posts the finished blocks.
//
// Two ways of feeding a device. A device fed block for block gets a replacement for every block it finishes
// (AUDIO_MSG_DONE) and so keeps the blocks queued at the start, AUDIO_PRIME_BLOCKS, queued all the time (Win32's
// waveOut, which cannot say when it runs short; the tests' manual device unless told otherwise). A device that
// takes its samples as it plays (SDL2, whose callback asks for each period's samples) is primed with nothing, never
// queues a block and calls audio_pull for every period: the samples are mixed at that moment, a note typed now is
// in the next period, and a block is mixed in as many pieces as the periods cut it into.
enum : int32_t { AUDIO_MSG_DONE = 1, AUDIO_MSG_QUIT = 2 };
struct audio_message {
    int32_t kind;         // AUDIO_MSG_DONE or AUDIO_MSG_QUIT
    audio_header* header; // the block the device has finished with (AUDIO_MSG_DONE)
};

// Blocks to queue when the device has opened; 0 for a device that takes its samples as it plays.
int32_t audio_dev_prime_blocks();

// For a device that takes its samples as it plays, on the device's thread: fills out with the next count samples,
// mixed now (the current block goes on where the last call stopped; a block's player tick comes before its first
// sample). Waits for audio_lock, which the main thread holds only for moments and never while it waits for the
// device, rather than playing silence. False only when there is nothing to fill.
bool audio_pull(int16_t* out, int32_t count);

// The audio thread's first act: from now on the device can post to this thread. audio_dev_open waits for it.
void audio_dev_bind_thread();
// Audio thread: waits for the next message and takes it.
audio_message audio_dev_wait_message();
// Any thread: tells the audio thread that the device has finished with header (AUDIO_MSG_DONE).
void audio_dev_post_done(audio_header* header);
// Any thread: asks the audio thread to end after the messages already waiting.
void audio_dev_post_quit();
// Main thread, no audio thread running: drops messages nobody will take (blocks a reset handed back after the
// thread ended, a quit posted while no thread ran).
void audio_dev_clear_messages();

// Audio output: the tracker's engine, the ring of blocks queued on the wave-output device, the audio thread, the
// samples taken by a device that mixes as it plays, and the start and stop of the sound system. init_sounds and
// deinit_sounds run on the main thread; audio_thread runs on the audio thread it starts; audio_pull on the device's
// own thread. Owns the engine, audio_lock, audio_ring, audio_headers, audio_write_pos and the device handle; the
// audio thread's message queue is the device layer's (audio_device.h).
#include "audio.h"

#include "audio_device.h"
#include "os_platform.h"
#include "os_tools.h"
#include "sound.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

static bool audio_start_std_thread();

snd_engine audio_engine;                   // the tracker's engine; under audio_lock
std::recursive_mutex audio_lock;           // guards audio_engine, its songs and the ring between the two threads
int16_t audio_ring[AUDIO_RING_SAMPLES];    // ten blocks of samples; written under audio_lock
audio_header audio_headers[AUDIO_HEADERS]; // wave headers; filled under audio_lock, released by the audio thread
int32_t audio_write_pos;                   // next block of audio_ring to fill; under audio_lock
audio_dev* audio_device;                   // open device or null; main thread (init_sounds, deinit_sounds)
bool (*audio_start_thread)() = audio_start_std_thread; // starts the audio thread; tests swap it

static std::thread audio_thread_handle;              // the running audio thread; main thread only
static std::atomic<std::thread::id> audio_thread_id; // the audio thread's id; it clears it as its last act
static int32_t audio_clock_ms;                       // without a device: os_time_ms at the last audio_keep_time
static int64_t audio_clock_rest;                     // without a device: milliseconds x rate not yet rendered
static int16_t audio_scratch[AUDIO_SCRATCH_SAMPLES]; // without a device: where audio_keep_time renders to

static bool audio_start_std_thread() {
    try {
        audio_thread_handle = std::thread(audio_thread, nullptr);
    } catch (const std::system_error&) { return false; }
    audio_thread_id.store(audio_thread_handle.get_id());
    return true;
}

bool audio_thread_running() { return audio_thread_id.load() != std::thread::id(); }

// Queues up to count blocks into the free headers: each rendered by the engine, or silence (the blocks that prime a
// device at its start, before anything plays). With audio_lock held.
static void audio_queue_blocks(int32_t count, bool silent) {
    // A header is free once the audio thread has taken it back; whichever is found first carries the next block.
    for (int32_t i = 0; i < AUDIO_HEADERS && count > 0; i++) {
        audio_header* h = &audio_headers[i];
        if (h->user != 0) continue;
        h->recorded = 0;
        h->flags = 0;
        h->loops = 0;
        h->next = nullptr;
        h->reserved[0] = h->reserved[1] = 0;
        h->data = &audio_ring[audio_write_pos];
        h->length = AUDIO_BLOCK_BYTES;
        h->user = 1;
        if (silent)
            memset(h->data, 0, AUDIO_BLOCK_BYTES);
        else
            snd_render(&audio_engine, h->data, SND_BLOCK);
        audio_write_pos += SND_BLOCK;
        if (audio_write_pos >= AUDIO_RING_SAMPLES) audio_write_pos = 0;
        if (audio_device) audio_dev_queue(audio_device, h);
        count--;
    }
}

void audio_fill(int32_t count) {
    OS_ASSERT(count >= 1);
    std::lock_guard<std::recursive_mutex> hold(audio_lock);
    audio_queue_blocks(count, false);
}

bool audio_pull(int16_t* out, int32_t count) {
    OS_ASSERT(out != nullptr && count >= 0);
    if (!out || count <= 0) return false;
    // The main thread holds audio_lock only for moments (an edit, a preview, the copy of the player's position for
    // the drawing) and never while it waits for the device (opening, pausing, closing it), which may be waiting for
    // this call: so the period waits for the lock rather than going silent, and can never deadlock on it.
    std::lock_guard<std::recursive_mutex> hold(audio_lock);
    snd_render(&audio_engine, out, count);
    return true;
}

int32_t audio_thread(void*) {
    audio_dev_bind_thread();
    for (;;) {
        const audio_message m = audio_dev_wait_message();
        if (m.kind == AUDIO_MSG_QUIT) break;
        if (m.kind != AUDIO_MSG_DONE) continue;
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        audio_fill(1);
        // The returned header stays in use while its replacement is filled, so at most five are in use at once
        // and a block of the ring is never rewritten while the device may still read it.
        const bool ours = m.header >= audio_headers && m.header < audio_headers + AUDIO_HEADERS;
        OS_ASSERT(ours);
        if (ours) m.header->user = 0;
    }
    audio_thread_id.store(std::thread::id());
    return 0;
}

bool audio_open() {
    os_log("AUDIO == %s\n", audio_dev_name());
    // A second open would zero the headers of blocks that are still queued: the running device is kept instead.
    OS_ASSERT(audio_device == nullptr);
    if (audio_device) return true;
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        memset(audio_headers, 0, sizeof audio_headers);
        audio_write_pos = 0;
    }
    const audio_format format = {1, 1, (uint32_t)SND_RATE, (uint32_t)SND_RATE * 2, 2, 16};
    audio_dev_clear_messages();
    const bool started = audio_start_thread && audio_start_thread();
    OS_ASSERT(started);
    if (!started) return false;
    audio_dev* device = audio_dev_open(&format, audio_dev_post_done);
    if (!device) {
        // No sound device: the thread goes again, and the clock keeps the song's time (audio_keep_time) until a
        // later open finds one.
        audio_close();
        audio_dev_clear_messages();
        audio_clock_ms = os_time_ms();
        audio_clock_rest = 0;
        os_log("AUDIO NO DEVICE\n");
        return false;
    }
    audio_device = device;
    // A device that takes its sound as it plays is primed with nothing.
    const int32_t prime = audio_dev_prime_blocks();
    if (prime > 0) {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        audio_queue_blocks(prime, true);
    }
    return true;
}

void audio_close() {
    audio_dev_post_quit();
    while (audio_thread_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (audio_thread_handle.joinable()) audio_thread_handle.join();
}

void audio_keep_time() {
    if (audio_device) return;
    const int32_t now = os_time_ms();
    int64_t elapsed = (int64_t)((uint32_t)now - (uint32_t)audio_clock_ms);
    audio_clock_ms = now;
    // A pause longer than this (a dialog held the loop) is not caught up: the song waits with the loop.
    if (elapsed > AUDIO_CLOCK_MAX_MS) elapsed = AUDIO_CLOCK_MAX_MS;
    // Milliseconds times the rate, so that the samples come out exact over any number of calls.
    audio_clock_rest += elapsed * SND_RATE;
    int32_t due = (int32_t)(audio_clock_rest / 1000);
    audio_clock_rest -= (int64_t)due * 1000;
    std::lock_guard<std::recursive_mutex> hold(audio_lock);
    while (due > 0) {
        const int32_t n = due < AUDIO_SCRATCH_SAMPLES ? due : AUDIO_SCRATCH_SAMPLES;
        snd_render(&audio_engine, audio_scratch, n);
        due -= n;
    }
}

void init_sounds() {
    os_log("init sounds\n");
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        audio_engine.sound_amplitude = 32767;
        audio_engine.snd_clock_ms = os_time_ms;
        if (!audio_engine.capture.write) audio_engine.capture.write = fwrite;
        audio_engine.audio_blocks = 0;
        audio_engine.block_done = SND_BLOCK;
    }
    audio_open();
    std::lock_guard<std::recursive_mutex> hold(audio_lock);
    snd_init_engine(&audio_engine);
}

void deinit_sounds() {
    os_log("deinit sounds\n");
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        audio_engine.snd_players[0] = nullptr;
        audio_engine.snd_players[1] = nullptr;
    }
    // Without a device no thread runs either: the failed open has ended it.
    if (!audio_device) return;
    audio_close();
    // The reset hands every queued block back; the thread has ended, so nobody refills them.
    const int32_t reset = audio_dev_reset(audio_device);
    OS_ASSERT(reset != 0);
    audio_dev_close(audio_device);
    audio_device = nullptr;
    audio_dev_clear_messages();
    OS_ASSERT(audio_engine.snd_live_samples == 0);
}

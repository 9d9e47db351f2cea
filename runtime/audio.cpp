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
    // The device's thread may hold the device's own lock, which the main thread takes to pause or close the device;
    // so that this can never wait on a main thread that waits on it, audio_lock is only tried, for up to about
    // 10 ms. The main thread holds it for one step, well under a millisecond; a call that still finds it taken
    // plays silence, and the song goes on where it was at the next call.
    std::unique_lock<std::recursive_mutex> hold(audio_lock, std::defer_lock);
    for (int32_t tries = 0; !hold.try_lock(); tries++) {
        if (tries == 40) {
            memset(out, 0, (size_t)count * sizeof(int16_t));
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(250));
    }
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

void audio_open() {
    os_log("AUDIO == %s\n", audio_dev_name());
    // A second open would zero the headers of blocks that are still queued: the running device is kept instead.
    OS_ASSERT(audio_device == nullptr);
    if (audio_device) return;
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        memset(audio_headers, 0, sizeof audio_headers);
        audio_write_pos = 0;
        audio_engine.audio_blocks = 0;
        audio_engine.block_done = SND_BLOCK;
    }
    const audio_format format = {1, 1, (uint32_t)SND_RATE, (uint32_t)SND_RATE * 2, 2, 16};
    audio_dev_clear_messages();
    const bool started = audio_start_thread && audio_start_thread();
    OS_ASSERT(started);
    if (!started) return;
    audio_device = audio_dev_open(&format, audio_dev_post_done);
    OS_ASSERT(audio_device != nullptr);
    if (!audio_device) return;
    // A device that takes its sound as it plays is primed with nothing.
    const int32_t prime = audio_dev_prime_blocks();
    if (prime > 0) {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        audio_queue_blocks(prime, true);
    }
}

void audio_close() {
    OS_ASSERT(audio_device != nullptr);
    audio_dev_post_quit();
    while (audio_thread_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (audio_thread_handle.joinable()) audio_thread_handle.join();
}

void init_sounds() {
    os_log("init sounds\n");
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        audio_engine.sound_amplitude = 32767;
        audio_engine.snd_clock_ms = os_time_ms;
        if (!audio_engine.capture.write) audio_engine.capture.write = fwrite;
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
    OS_ASSERT(audio_device != nullptr);
    audio_close();
    if (audio_device) {
        // The reset hands every queued block back; the thread has ended, so nobody refills them.
        const int32_t reset = audio_dev_reset(audio_device);
        OS_ASSERT(reset != 0);
        audio_dev_close(audio_device);
        audio_device = nullptr;
    }
    audio_dev_clear_messages();
    OS_ASSERT(audio_engine.snd_live_samples == 0);
}

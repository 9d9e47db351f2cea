// Audio output: the ring of blocks queued on the wave-output device, the audio thread, the samples taken by a
// device that mixes as it plays, and the start and stop of the sound system. init_sounds and deinit_sounds run on
// the main thread; audio_thread runs on the audio thread it starts; audio_pull on the device's own thread. Owns
// audio_ring, audio_headers, audio_write_pos, the block being taken and the device handle; the audio thread's
// message queue is the device layer's (audio_device.h).
#include "audio.h"

#include "audio_device.h"
#include "os_tools.h"
#include "sound.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

static bool audio_start_std_thread();

int16_t audio_ring[AUDIO_RING_SAMPLES];    // ten blocks of samples; written under audio_lock
audio_header audio_headers[AUDIO_HEADERS]; // wave headers; filled under audio_lock, released by the audio thread
int32_t audio_write_pos;                   // next block of audio_ring to fill; under audio_lock
int32_t audio_part_done;                   // samples of the block at audio_write_pos taken so far; under audio_lock
bool audio_part_heard;                     // a part of that block sounded; under audio_lock
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

void audio_fill(int32_t count) {
    OS_ASSERT(count >= 1);
    std::lock_guard<std::recursive_mutex> hold(audio_lock);
    // Whole blocks start at a block's beginning: a device is either fed blocks or takes samples as it plays.
    OS_ASSERT(audio_part_done == 0);
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
        snd_mix(h->data);
        audio_write_pos += SND_BLOCK;
        if (audio_write_pos >= AUDIO_RING_SAMPLES) audio_write_pos = 0;
        if (audio_device) audio_dev_queue(audio_device, h);
        count--;
    }
}

// One player tick per block, before the block is mixed: the player's clock counts blocks, whoever takes them.
static void audio_tick_players() {
    for (int32_t slot = 0; slot < 2; slot++)
        if (snd_players[slot]) snd_tick(snd_players[slot], slot);
}

// Mixes the next count samples into out, straight from the ring: the current block goes on from the last sample
// mixed, a block's player tick comes before its first sample, and a finished block that sounded goes to the
// capture. audio_lock held.
static void audio_mix_into(int16_t* out, int32_t count) {
    while (count > 0) {
        if (audio_part_done == 0) {
            // The block's tick comes before its first sample; the count moves on at once, as it would have after
            // mixing the whole block.
            audio_tick_players();
            audio_blocks++;
            audio_part_heard = false;
        }
        int16_t* block = &audio_ring[audio_write_pos];
        const int32_t n = count < SND_BLOCK - audio_part_done ? count : SND_BLOCK - audio_part_done;
        audio_part_heard = snd_mix_part(block, audio_part_done, n) || audio_part_heard;
        memcpy(out, block + audio_part_done, (size_t)n * sizeof(int16_t));
        out += n;
        count -= n;
        audio_part_done += n;
        if (audio_part_done == SND_BLOCK) {
            // The capture takes whole blocks, those that sounded, as the whole-block mixer does.
            if (audio_part_heard && wav_file) wav_append(block);
            audio_part_done = 0;
            audio_write_pos += SND_BLOCK;
            if (audio_write_pos >= AUDIO_RING_SAMPLES) audio_write_pos = 0;
        }
    }
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
    audio_mix_into(out, count);
    return true;
}

int32_t audio_thread(void*) {
    audio_dev_bind_thread();
    for (;;) {
        const audio_message m = audio_dev_wait_message();
        if (m.kind == AUDIO_MSG_QUIT) break;
        if (m.kind != AUDIO_MSG_DONE) continue;
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        audio_tick_players();
        audio_fill(1);
        audio_blocks++;
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
        audio_part_done = 0;
        audio_part_heard = false;
        audio_blocks = 0;
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
    if (prime > 0) audio_fill(prime);
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
        sound_amplitude = 32767;
    }
    audio_open();
    std::lock_guard<std::recursive_mutex> hold(audio_lock);
    snd_ready_players();
}

void deinit_sounds() {
    os_log("deinit sounds\n");
    {
        std::lock_guard<std::recursive_mutex> hold(audio_lock);
        snd_players[0] = nullptr;
        snd_players[1] = nullptr;
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
    OS_ASSERT(snd_live_samples == 0);
}

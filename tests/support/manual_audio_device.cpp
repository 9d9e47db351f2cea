// Manual audio device: the device layer for tests. The audio thread (and the main thread's priming fill) queue
// blocks here; the test thread hands them back. Owns the queue of waiting blocks and the recording.
#include "manual_audio_device.h"

#include "audio.h"
#include "audio_device.h"
#include "audio_queue.h"
#include "os_tools.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

struct audio_dev {
    audio_done_fn done; // the audio output's block-done notification
};

bool manual_audio_fail_open;   // the next open fails
bool manual_audio_absent;      // every open fails
bool manual_audio_auto_return; // blocks go back as soon as they are queued
bool manual_audio_record;      // copies of queued blocks are kept
bool manual_audio_pull;        // the device takes its samples as it plays (manual_audio_take), as SDL's does

static std::mutex manual_mutex;                // guards everything below
static std::condition_variable manual_signal;  // a block has been queued
static audio_dev manual_device;                // the one device
static bool manual_open;                       // manual_device is open
static std::deque<audio_header*> manual_queue; // waiting blocks, oldest first
static int64_t manual_total;                   // headers queued since open
static int64_t manual_total_samples;           // samples queued since open
static int32_t manual_reset_count;             // audio_dev_reset calls
static int32_t manual_close_count;             // audio_dev_close calls
static int32_t manual_open_count;              // audio_dev_open calls
static int32_t manual_in_use_max;              // most headers in use when a block was queued
static int64_t manual_sounding;                // queued blocks (or taken periods) with a sample other than 0
static std::vector<int16_t> manual_samples;    // recorded samples

void manual_audio_reset_state() {
    std::lock_guard<std::mutex> hold(manual_mutex);
    manual_audio_fail_open = false;
    manual_audio_absent = false;
    manual_audio_auto_return = false;
    manual_audio_record = false;
    manual_audio_pull = false;
    manual_open = false;
    manual_queue.clear();
    manual_total = 0;
    manual_total_samples = 0;
    manual_reset_count = 0;
    manual_close_count = 0;
    manual_open_count = 0;
    manual_in_use_max = 0;
    manual_sounding = 0;
    manual_samples.clear();
}

const char* audio_dev_name() { return "TEST_AUDIO"; }

int32_t audio_dev_prime_blocks() { return manual_audio_pull ? 0 : AUDIO_PRIME_BLOCKS; }

audio_dev* audio_dev_open(const audio_format* format, audio_done_fn done) {
    std::lock_guard<std::mutex> hold(manual_mutex);
    OS_ASSERT(!manual_open);
    manual_open_count++;
    if (manual_audio_absent) return nullptr;
    if (manual_audio_fail_open) {
        manual_audio_fail_open = false;
        return nullptr;
    }
    OS_ASSERT(format && format->channels == 1 && format->rate == 22050 && format->bits == 16);
    manual_device.done = done;
    manual_open = true;
    manual_queue.clear();
    manual_total = 0;
    manual_total_samples = 0;
    return &manual_device;
}

// Called by audio_fill with audio_lock held, so the header markers can be read here.
void audio_dev_queue(audio_dev* device, audio_header* header) {
    std::lock_guard<std::mutex> hold(manual_mutex);
    OS_ASSERT(device == &manual_device && manual_open);
    int32_t in_use = 0;
    for (const audio_header& h : audio_headers)
        if (h.user) in_use++;
    if (in_use > manual_in_use_max) manual_in_use_max = in_use;
    const int32_t samples = header->length / (int32_t)sizeof(int16_t);
    // A device that takes its samples as it plays never gets a block.
    OS_ASSERT(samples == SND_BLOCK && !manual_audio_pull);
    if (manual_audio_record) manual_samples.insert(manual_samples.end(), header->data, header->data + samples);
    for (int32_t i = 0; i < samples; i++)
        if (header->data[i] != 0) {
            manual_sounding++;
            break;
        }
    manual_total++;
    manual_total_samples += samples;
    if (manual_audio_auto_return)
        device->done(header);
    else
        manual_queue.push_back(header);
    manual_signal.notify_all();
}

int32_t audio_dev_reset(audio_dev* device) {
    std::lock_guard<std::mutex> hold(manual_mutex);
    OS_ASSERT(device == &manual_device && manual_open);
    manual_reset_count++;
    for (audio_header* h : manual_queue) device->done(h);
    manual_queue.clear();
    return 1;
}

void audio_dev_close(audio_dev* device) {
    std::lock_guard<std::mutex> hold(manual_mutex);
    OS_ASSERT(device == &manual_device && manual_open);
    OS_ASSERT(manual_queue.empty());
    manual_close_count++;
    manual_open = false;
}

int32_t manual_audio_opens() {
    std::lock_guard<std::mutex> hold(manual_mutex);
    return manual_open_count;
}

bool manual_audio_is_open() {
    std::lock_guard<std::mutex> hold(manual_mutex);
    return manual_open;
}

int32_t manual_audio_queued() {
    std::lock_guard<std::mutex> hold(manual_mutex);
    return (int32_t)manual_queue.size();
}

int64_t manual_audio_total_queued() {
    std::lock_guard<std::mutex> hold(manual_mutex);
    return manual_total;
}

int64_t manual_audio_total_samples() {
    std::lock_guard<std::mutex> hold(manual_mutex);
    return manual_total_samples;
}

int32_t manual_audio_resets() {
    std::lock_guard<std::mutex> hold(manual_mutex);
    return manual_reset_count;
}

int32_t manual_audio_closes() {
    std::lock_guard<std::mutex> hold(manual_mutex);
    return manual_close_count;
}

int64_t manual_audio_sounding() {
    std::lock_guard<std::mutex> hold(manual_mutex);
    return manual_sounding;
}

int32_t manual_audio_max_in_use() {
    std::lock_guard<std::mutex> hold(manual_mutex);
    return manual_in_use_max;
}

std::vector<int32_t> manual_audio_queue_indices() {
    std::lock_guard<std::mutex> hold(manual_mutex);
    std::vector<int32_t> indices;
    for (audio_header* h : manual_queue) indices.push_back((int32_t)(h - audio_headers));
    return indices;
}

std::vector<int32_t> manual_audio_queue_offsets() {
    std::lock_guard<std::mutex> hold(manual_mutex);
    std::vector<int32_t> offsets;
    for (audio_header* h : manual_queue) offsets.push_back((int32_t)(h->data - audio_ring));
    return offsets;
}

std::vector<int16_t> manual_audio_recorded() {
    std::lock_guard<std::mutex> hold(manual_mutex);
    return manual_samples;
}

bool manual_audio_return_one() {
    std::lock_guard<std::mutex> hold(manual_mutex);
    if (manual_queue.empty() || !manual_open) return false;
    audio_header* h = manual_queue.front();
    manual_queue.pop_front();
    manual_device.done(h);
    return true;
}

bool manual_audio_take(int32_t count) {
    std::vector<int16_t> samples((size_t)count);
    const bool mixed = audio_pull(samples.data(), count);
    std::lock_guard<std::mutex> hold(manual_mutex);
    if (manual_audio_record) manual_samples.insert(manual_samples.end(), samples.begin(), samples.end());
    for (int16_t v : samples)
        if (v != 0) {
            manual_sounding++;
            break;
        }
    manual_total_samples += count;
    return mixed;
}

bool manual_audio_wait_total(int64_t total, int32_t timeout_ms) {
    std::unique_lock<std::mutex> hold(manual_mutex);
    return manual_signal.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                                  [total] { return manual_total >= total; });
}

// ---- The audio thread's messages: the portable queue carries them, as for SDL.

void audio_dev_bind_thread() {}
audio_message audio_dev_wait_message() { return audio_queue_wait(); }
void audio_dev_post_done(audio_header* header) { audio_queue_post(AUDIO_MSG_DONE, header); }
void audio_dev_post_quit() { audio_queue_post(AUDIO_MSG_QUIT, nullptr); }
void audio_dev_clear_messages() { audio_queue_clear(); }

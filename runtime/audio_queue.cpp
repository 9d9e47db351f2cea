// The audio thread's message queue for sound devices without a queue of their own. Posted to from any thread
// (the device's playback thread, the main thread's quit), taken by the audio thread. Owns the ring of messages.
#include "audio_queue.h"

#include "os_tools.h"

#include <condition_variable>
#include <mutex>

namespace {
constexpr int32_t AUDIO_QUEUE_SIZE = 32; // more than the headers plus a quit: a post never finds it full
}

static std::mutex audio_queue_mutex;                // guards the ring below
static std::condition_variable audio_queue_signal;  // a message has been posted
static audio_message audio_queue[AUDIO_QUEUE_SIZE]; // waiting messages, a ring
static int32_t audio_queue_head;                    // oldest message in audio_queue
static int32_t audio_queue_count;                   // messages waiting in audio_queue

void audio_queue_post(int32_t kind, audio_header* header) {
    std::lock_guard<std::mutex> hold(audio_queue_mutex);
    OS_ASSERT(audio_queue_count < AUDIO_QUEUE_SIZE);
    if (audio_queue_count >= AUDIO_QUEUE_SIZE) return;
    audio_queue[(audio_queue_head + audio_queue_count) % AUDIO_QUEUE_SIZE] = audio_message{kind, header};
    audio_queue_count++;
    audio_queue_signal.notify_one();
}

audio_message audio_queue_wait() {
    std::unique_lock<std::mutex> hold(audio_queue_mutex);
    audio_queue_signal.wait(hold, [] { return audio_queue_count > 0; });
    const audio_message m = audio_queue[audio_queue_head];
    audio_queue_head = (audio_queue_head + 1) % AUDIO_QUEUE_SIZE;
    audio_queue_count--;
    return m;
}

void audio_queue_clear() {
    std::lock_guard<std::mutex> hold(audio_queue_mutex);
    audio_queue_head = 0;
    audio_queue_count = 0;
}

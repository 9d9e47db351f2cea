// SDL2 wave-output device: implements the device layer (audio_device.h) on SDL's default playback device.
// audio_dev_* run on the main thread or the audio thread; SDL's callback runs on SDL's own audio thread, plays the
// queued headers in order, hands each finished one back and asks for the next part of a block only when what is
// queued will not cover its next call: a note typed now is mixed into a part that waits behind less than one
// period of queued sound, instead of behind four blocks. Owns the queue of waiting headers.
#include "audio_device.h"
#include "audio_queue.h"
#include "os_tools.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

namespace {
constexpr int32_t SDL_QUEUE_SIZE = 16; // more than the ten headers that can be queued
}

struct audio_dev {
    SDL_AudioDeviceID id;                // the open SDL device
    audio_done_fn done;                  // block-done notification
    audio_header* queue[SDL_QUEUE_SIZE]; // waiting blocks, a ring; guarded by SDL's device lock
    int32_t head;                        // oldest waiting block; guarded by SDL's device lock
    int32_t count;                       // waiting blocks; guarded by SDL's device lock
    int32_t offset;                      // bytes of the oldest block already played; guarded by SDL's device lock
    int32_t asked;                       // 1 while a block asked for has not been queued; SDL's device lock
};

static audio_dev sdl_audio; // the one device; id 0 while closed

// SDL's callback, with the device lock held: copies queued blocks into SDL's buffer and hands each finished one
// back; what the queue cannot cover is silence.
static void sdl_audio_callback(void* userdata, Uint8* stream, int len) {
    audio_dev* dev = (audio_dev*)userdata;
    int32_t filled = 0;
    while (filled < len && dev->count > 0) {
        audio_header* h = dev->queue[dev->head];
        const int32_t left = h->length - dev->offset;
        const int32_t n = left < len - filled ? left : len - filled;
        if (n > 0) memcpy(stream + filled, (const Uint8*)h->data + dev->offset, (size_t)n);
        filled += n > 0 ? n : 0;
        dev->offset += n > 0 ? n : 0;
        if (dev->offset >= h->length) {
            dev->head = (dev->head + 1) % SDL_QUEUE_SIZE;
            dev->count--;
            dev->offset = 0;
            h->recorded = h->length;
            dev->done(h);
        }
    }
    if (filled < len) memset(stream + filled, 0, (size_t)(len - filled));
    // The next call comes one period from now and takes len bytes again. When the queue cannot cover it, the next
    // part (one period of samples) is asked for now: the audio thread then has a whole period (11.6 ms) to mix it,
    // work of a few microseconds (a block's player tick included), and one part always covers a call. Asking no
    // earlier keeps what waits in front of a new part below one period. The audio thread waits for nothing but
    // audio_lock, which the main thread holds only for edits of well under a millisecond.
    int32_t queued = -dev->offset;
    for (int32_t i = 0; i < dev->count; i++) queued += dev->queue[(dev->head + i) % SDL_QUEUE_SIZE]->length;
    if (queued < len && !dev->asked) {
        dev->asked = 1;
        audio_queue_post(AUDIO_MSG_NEED, nullptr);
    }
}

const char* audio_dev_name() { return "SDL2_AUDIO"; }

// One block to start with; the callback asks for every later part when it is about to need it.
int32_t audio_dev_prime_blocks() { return 1; }

audio_dev* audio_dev_open(const audio_format* format, audio_done_fn done) {
    OS_ASSERT(format != nullptr && done != nullptr && format->bits == 16);
    if (!format || !done || format->bits != 16 || sdl_audio.id != 0) return nullptr;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        fprintf(stderr, "QuavloII: no audio (%s)\n", SDL_GetError());
        return nullptr;
    }
    sdl_audio.done = done;
    sdl_audio.head = sdl_audio.count = sdl_audio.offset = sdl_audio.asked = 0;
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = (int)format->rate;
    want.format = AUDIO_S16SYS;
    want.channels = (Uint8)format->channels;
    // One part, 256 frames (11.6 ms), per callback: the time the audio thread has to deliver an asked-for part,
    // and the most queued sound a new part waits behind; long enough not to wake SDL often.
    want.samples = AUDIO_PART;
    want.callback = sdl_audio_callback;
    want.userdata = &sdl_audio;
    SDL_AudioSpec have;
    // No changes allowed: SDL converts to whatever the hardware wants, and the callback always sees this format.
    const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (id == 0) {
        fprintf(stderr, "QuavloII: no audio device (%s)\n", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return nullptr;
    }
    sdl_audio.id = id;
    SDL_PauseAudioDevice(id, 0);
    return &sdl_audio;
}

void audio_dev_queue(audio_dev* device, audio_header* header) {
    OS_ASSERT(device == &sdl_audio && device->id != 0 && header != nullptr);
    if (device != &sdl_audio || device->id == 0 || !header) return;
    SDL_LockAudioDevice(device->id);
    OS_ASSERT(device->count < SDL_QUEUE_SIZE);
    if (device->count < SDL_QUEUE_SIZE) {
        header->recorded = 0;
        device->queue[(device->head + device->count) % SDL_QUEUE_SIZE] = header;
        device->count++;
    }
    device->asked = 0;
    SDL_UnlockAudioDevice(device->id);
}

int32_t audio_dev_reset(audio_dev* device) {
    OS_ASSERT(device == &sdl_audio);
    if (device != &sdl_audio || device->id == 0) return 0;
    SDL_PauseAudioDevice(device->id, 1);
    SDL_LockAudioDevice(device->id);
    while (device->count > 0) {
        audio_header* h = device->queue[device->head];
        device->head = (device->head + 1) % SDL_QUEUE_SIZE;
        device->count--;
        device->done(h);
    }
    device->head = device->offset = device->asked = 0;
    SDL_UnlockAudioDevice(device->id);
    return 1;
}

void audio_dev_close(audio_dev* device) {
    OS_ASSERT(device == &sdl_audio && device->id != 0);
    if (device != &sdl_audio || device->id == 0) return;
    SDL_CloseAudioDevice(device->id);
    device->id = 0;
    device->count = device->head = device->offset = device->asked = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

// ---- The audio thread's messages: SDL has no thread queue to offer, so the portable one carries them.

void audio_dev_bind_thread() {}
audio_message audio_dev_wait_message() { return audio_queue_wait(); }
void audio_dev_post_done(audio_header* header) { audio_queue_post(AUDIO_MSG_RETURN, header); }
void audio_dev_post_quit() { audio_queue_post(AUDIO_MSG_QUIT, nullptr); }
void audio_dev_clear_messages() { audio_queue_clear(); }

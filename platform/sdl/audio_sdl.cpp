// SDL2 wave-output device: implements the device layer (audio_device.h) on SDL's default playback device as a
// device that takes its samples as it plays. SDL's callback runs on SDL's own audio thread once a period and fills
// its buffer through audio_pull, which mixes the samples at that moment: a note typed now is heard in the next
// period (23 ms), where four queued blocks made it wait 200 ms. No block is ever queued, so the audio thread
// only waits for its quit message.
#include "audio_device.h"
#include "audio_queue.h"
#include "os_tools.h"

#include <SDL.h>

#include <cstdio>

struct audio_dev {
    SDL_AudioDeviceID id; // the open SDL device
};

static audio_dev sdl_audio; // the one device; id 0 while closed

// SDL's callback, with SDL's device lock held: the period's samples, mixed now. audio_pull never waits long for
// audio_lock, so a main thread holding it while it waits for the device lock cannot deadlock with this.
static void sdl_audio_callback(void*, Uint8* stream, int len) {
    audio_pull((int16_t*)stream, len / (int)sizeof(int16_t));
}

const char* audio_dev_name() { return "SDL2_AUDIO"; }

// Nothing is queued: the callback takes every sample as it plays.
int32_t audio_dev_prime_blocks() { return 0; }

audio_dev* audio_dev_open(const audio_format* format, audio_done_fn done) {
    OS_ASSERT(format != nullptr && done != nullptr && format->bits == 16);
    if (!format || !done || format->bits != 16 || sdl_audio.id != 0) return nullptr;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        fprintf(stderr, "QuavloII: no audio (%s)\n", SDL_GetError());
        return nullptr;
    }
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = (int)format->rate;
    want.format = AUDIO_S16SYS;
    want.channels = (Uint8)format->channels;
    // 512 frames (23 ms) per callback: the most a typed note waits for once its step has run, and long enough not
    // to wake SDL often.
    want.samples = 512;
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

// Never called for this device: it is primed with nothing and hands no block back, so nothing asks for a
// replacement. A block queued all the same is not played (handing it back would only bring a replacement).
void audio_dev_queue(audio_dev* device, audio_header* header) {
    OS_ASSERT(device == &sdl_audio && header == nullptr);
}

// Stops the callbacks; SDL plays silence from then on. Nothing is queued, so nothing is handed back.
int32_t audio_dev_reset(audio_dev* device) {
    OS_ASSERT(device == &sdl_audio);
    if (device != &sdl_audio || device->id == 0) return 0;
    SDL_PauseAudioDevice(device->id, 1);
    return 1;
}

void audio_dev_close(audio_dev* device) {
    OS_ASSERT(device == &sdl_audio && device->id != 0);
    if (device != &sdl_audio || device->id == 0) return;
    SDL_CloseAudioDevice(device->id);
    device->id = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

// ---- The audio thread's messages: SDL has no thread queue to offer, so the portable one carries them.

void audio_dev_bind_thread() {}
audio_message audio_dev_wait_message() { return audio_queue_wait(); }
void audio_dev_post_done(audio_header* header) { audio_queue_post(AUDIO_MSG_DONE, header); }
void audio_dev_post_quit() { audio_queue_post(AUDIO_MSG_QUIT, nullptr); }
void audio_dev_clear_messages() { audio_queue_clear(); }

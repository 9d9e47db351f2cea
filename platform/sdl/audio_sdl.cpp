// SDL2 wave-output device: implements the device layer (audio_device.h) on SDL's default playback device as a
// device that takes its samples as it plays. SDL's callback runs on SDL's own audio thread once a period and fills
// its buffer through audio_pull, which mixes the samples at that moment: a note played now is heard in the next
// period. The period is short (AUDIO_SDL_PERIOD frames, 11.6 ms) unless the device asks for another, and logged. No
// block is ever queued, so the audio thread only waits for its quit message.
#include "audio_device.h"
#include "audio_queue.h"
#include "os_tools.h"

#include <SDL.h>

// Frames per period asked of SDL, 11.6 ms: a note played now waits at most this long for its period. Half of it
// would wake the device's thread twice as often for a few milliseconds less. SDL's driver may give another length
// when the device needs one; "AUDIO PERIOD" in the log says which.
constexpr int32_t AUDIO_SDL_PERIOD = 256;

struct audio_dev {
    SDL_AudioDeviceID id; // the open SDL device
};

static audio_dev sdl_audio; // the one device; id 0 while closed

// SDL's callback, with SDL's device lock held: the period's samples, mixed now. The main thread never waits for the
// device lock while it holds audio_lock, so audio_pull may wait for it.
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
        os_log("no audio (%s)\n", SDL_GetError());
        return nullptr;
    }
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = (int)format->rate;
    want.format = AUDIO_S16SYS;
    want.channels = (Uint8)format->channels;
    want.samples = AUDIO_SDL_PERIOD;
    want.callback = sdl_audio_callback;
    want.userdata = &sdl_audio;
    SDL_AudioSpec have;
    // Rate, format and channels stay as asked (SDL converts to whatever the hardware wants); the period may change
    // to what the device takes, so that SDL adds no buffer of its own to make up the difference.
    const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
    if (id == 0) {
        os_log("no audio device (%s)\n", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return nullptr;
    }
    sdl_audio.id = id;
    os_log("AUDIO PERIOD %d FRAMES (%s)\n", (int)have.samples, SDL_GetCurrentAudioDriver());
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

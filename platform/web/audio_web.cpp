// Web Audio wave output: implements the device layer (audio_device.h) as a device that takes its samples as it
// plays. The page's audio context runs at 22050 Hz (the browser converts the rate for the sound card), and its
// script processor asks on the page's thread for each period of 512 samples, which audio_pull mixes at that
// moment, as SDL's callback does. No block is ever queued and no audio thread runs: the page has one thread, and
// the processor's call comes between two of its tasks, never while a step holds audio_lock.
#include "audio_device.h"
#include "os_tools.h"

#include <emscripten.h>

extern "C" {
int32_t web_js_audio_open(int32_t rate, int32_t period, int16_t* samples);
void web_js_audio_pause();
void web_js_audio_close();
}

struct audio_dev {
    int32_t open; // 1 while the page's audio context exists
};

constexpr int32_t WEB_AUDIO_PERIOD = 512; // samples per call of the script processor (23 ms)

static audio_dev web_audio;                        // the one device
static int16_t web_audio_period[WEB_AUDIO_PERIOD]; // the period being handed to the page

// The script processor's call: the next count samples, mixed now.
extern "C" EMSCRIPTEN_KEEPALIVE void web_audio_pull(int32_t count) {
    if (count < 0 || count > WEB_AUDIO_PERIOD) count = WEB_AUDIO_PERIOD;
    audio_pull(web_audio_period, count);
}

const char* audio_dev_name() { return "WEB_AUDIO"; }
int32_t audio_dev_prime_blocks() { return 0; }

audio_dev* audio_dev_open(const audio_format* format, audio_done_fn done) {
    OS_ASSERT(format != nullptr && done != nullptr && format->bits == 16 && format->channels == 1);
    if (!format || format->bits != 16 || format->channels != 1 || web_audio.open) return nullptr;
    if (!web_js_audio_open((int32_t)format->rate, WEB_AUDIO_PERIOD, web_audio_period)) return nullptr;
    web_audio.open = 1;
    return &web_audio;
}

// Nothing is queued on this device: the script processor takes every sample as it plays.
void audio_dev_queue(audio_dev* device, audio_header* header) { OS_ASSERT(device == &web_audio && header == nullptr); }

int32_t audio_dev_reset(audio_dev* device) {
    OS_ASSERT(device == &web_audio);
    if (device != &web_audio || !device->open) return 0;
    web_js_audio_pause();
    return 1;
}

void audio_dev_close(audio_dev* device) {
    OS_ASSERT(device == &web_audio && device->open);
    if (device != &web_audio || !device->open) return;
    web_js_audio_close();
    device->open = 0;
}

// ---- No audio thread runs on the page, so nothing is ever posted or waited for.

void audio_dev_bind_thread() {}
audio_message audio_dev_wait_message() { return audio_message{AUDIO_MSG_QUIT, nullptr}; }
void audio_dev_post_done(audio_header*) {}
void audio_dev_post_quit() {}
void audio_dev_clear_messages() {}

// Win32 wave-output device: implements the device layer (audio_device.h) on waveOut* with WAVE_MAPPER. The system
// posts MM_WOM_DONE for every finished block straight to the audio thread's own message queue (CALLBACK_THREAD),
// where the thread's GetMessageA loop takes it; a posted WM_QUIT ends that loop. audio_dev_* run on the main
// thread or the audio thread. Owns the device handle and one WAVEHDR per header of the audio output.
#include "platform_win32.h"

#include "audio.h"
#include "audio_device.h"
#include "os_tools.h"

#include <mmsystem.h>

#include <atomic>
#include <cstring>

namespace {
constexpr DWORD WIN_BIND_WAIT_MS = 5000; // longest wait for the audio thread's message queue
}

struct audio_dev {
    HWAVEOUT handle; // the open wave-output device; main thread (open, close)
    // The system's header for each of audio_headers, dwUser pointing back to it: filled and queued under
    // audio_lock, unprepared by the audio thread when the block comes back (or by the reset once it has ended).
    WAVEHDR wave[AUDIO_HEADERS];
};

static audio_dev win_audio; // the one device; handle null while closed
// The audio thread's id once its queue exists, 0 after its quit; written by the audio thread, read by any.
static std::atomic<DWORD> win_audio_thread;

const char* audio_dev_name() { return "WIN32_AUDIO"; }

// waveOut only says when a block has finished, so it is fed block for block with the whole lead queued.
int32_t audio_dev_prime_blocks() { return AUDIO_PRIME_BLOCKS; }

// Waits until the audio thread has its message queue; 0 when no audio thread runs.
static DWORD win_audio_thread_id() {
    for (DWORD waited = 0; win_audio_thread.load() == 0 && audio_thread_running() && waited < WIN_BIND_WAIT_MS;
         waited++)
        Sleep(1);
    return win_audio_thread.load();
}

audio_dev* audio_dev_open(const audio_format* format, audio_done_fn) {
    OS_ASSERT(format != nullptr && win_audio.handle == nullptr);
    if (!format || win_audio.handle) return nullptr;
    const DWORD thread = win_audio_thread_id();
    OS_ASSERT(thread != 0);
    if (!thread) return nullptr;
    WAVEFORMATEX wave_format;
    memset(&wave_format, 0, sizeof wave_format);
    wave_format.wFormatTag = format->format_tag;
    wave_format.nChannels = format->channels;
    wave_format.nSamplesPerSec = format->rate;
    wave_format.nAvgBytesPerSec = format->bytes_per_second;
    wave_format.nBlockAlign = format->block_align;
    wave_format.wBitsPerSample = format->bits;
    memset(win_audio.wave, 0, sizeof win_audio.wave);
    HWAVEOUT handle = nullptr;
    const MMRESULT opened = waveOutOpen(&handle, WAVE_MAPPER, &wave_format, (DWORD_PTR)thread, 0, CALLBACK_THREAD);
    if (opened != MMSYSERR_NOERROR) return nullptr;
    win_audio.handle = handle;
    waveOutSetVolume(handle, 0xFFFFFFFF);
    return &win_audio;
}

void audio_dev_queue(audio_dev* device, audio_header* header) {
    OS_ASSERT(device == &win_audio && device->handle != nullptr && header != nullptr);
    if (device != &win_audio || !device->handle || !header) return;
    const bool ours = header >= audio_headers && header < audio_headers + AUDIO_HEADERS;
    OS_ASSERT(ours);
    if (!ours) return;
    WAVEHDR* wave = &device->wave[header - audio_headers];
    // The audio thread unprepares a header when it comes back, so a header queued again is always free here.
    OS_ASSERT((wave->dwFlags & WHDR_PREPARED) == 0);
    memset(wave, 0, sizeof *wave);
    wave->lpData = (LPSTR)header->data;
    wave->dwBufferLength = (DWORD)header->length;
    wave->dwUser = (DWORD_PTR)header;
    waveOutPrepareHeader(device->handle, wave, sizeof *wave);
    waveOutWrite(device->handle, wave, sizeof *wave);
}

int32_t audio_dev_reset(audio_dev* device) {
    OS_ASSERT(device == &win_audio);
    if (device != &win_audio || !device->handle) return 0;
    const MMRESULT reset = waveOutReset(device->handle);
    // The reset hands every block back; the audio thread has ended, so their headers are unprepared here.
    for (WAVEHDR& wave : device->wave)
        if (wave.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(device->handle, &wave, sizeof wave);
    return reset == MMSYSERR_NOERROR;
}

void audio_dev_close(audio_dev* device) {
    OS_ASSERT(device == &win_audio && device->handle != nullptr);
    if (device != &win_audio || !device->handle) return;
    waveOutClose(device->handle);
    device->handle = nullptr;
}

// ---- The audio thread's messages: the thread's own Windows message queue.

void audio_dev_bind_thread() {
    // A thread has a message queue once it asks for a message; only then can messages be posted to it.
    MSG message;
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    win_audio_thread.store(GetCurrentThreadId());
}

audio_message audio_dev_wait_message() {
    MSG message;
    for (;;) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) break;
        if (message.message != MM_WOM_DONE) continue;
        WAVEHDR* wave = (WAVEHDR*)message.lParam;
        if (!wave) continue;
        waveOutUnprepareHeader((HWAVEOUT)message.wParam, wave, sizeof *wave);
        return audio_message{AUDIO_MSG_DONE, (audio_header*)wave->dwUser};
    }
    win_audio_thread.store(0);
    return audio_message{AUDIO_MSG_QUIT, nullptr};
}

void audio_dev_post_done(audio_header* header) {
    const bool ours = header >= audio_headers && header < audio_headers + AUDIO_HEADERS;
    OS_ASSERT(ours);
    const DWORD thread = win_audio_thread_id();
    if (ours && thread && win_audio.handle)
        PostThreadMessageA(thread, MM_WOM_DONE, (WPARAM)win_audio.handle,
                           (LPARAM)&win_audio.wave[header - audio_headers]);
}

void audio_dev_post_quit() {
    const DWORD thread = win_audio_thread_id();
    if (thread) PostThreadMessageA(thread, WM_QUIT, 0, 0);
}

// Messages left in an ended thread's queue went with it.
void audio_dev_clear_messages() {}

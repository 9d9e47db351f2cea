// The WAV capture: records an engine's output as it plays. The renderer hands each whole block that sounded to a
// queue (wav_append, on whichever thread renders: the tracker's audio callback), and the host's main loop writes
// the queued blocks to the file (wav_drain), so the thread that feeds the sound device never waits for the disk.
// The queue is a ring of WAV_QUEUE_BLOCKS blocks with two counters, one advanced by each side; a block that finds
// it full ends the capture as a failed write does. Owns the capture's file and queue while a capture runs.
#include "os_tools.h"
#include "sound.h"

#include <cstring>
#include <filesystem>
#include <system_error>

static constexpr const char* WAV_NAME = "song.wav"; // the tracker's capture file, in the current directory
static constexpr int32_t WAV_HEADER_BYTES = 44;     // bytes before the samples
// Largest data size the 32-bit signed size fields can describe, so the capture stops short of it.
static constexpr int32_t WAV_MAX_DATA = 0x7FFFFFFF - 36;

// Ends the capture's file: final sizes into the header at the start, then the file is closed.
static int32_t wav_finish(snd_capture* c) {
    FILE* file = c->wav_file;
    c->wav_file = nullptr;
    if (fseek(file, 0, SEEK_SET) == 0) wav_write_header(file, c->wav_samples * 2);
    return fclose(file);
}

// The capture ends with what reached the file, after a failed write or an overflow; the song plays on. A half
// sample left by a short write is cut off, so that the header's sizes describe the whole file.
static void wav_fail(snd_capture* c, bool half_sample) {
    // The renderer stops handing blocks over; the queue itself goes when the capture is stopped.
    c->overflow.store(1, std::memory_order_release);
    const char* path = c->wav_path;
    wav_finish(c);
    c->wav_failed = 1;
    if (half_sample && path) {
        std::error_code error;
        std::filesystem::resize_file(path, (uintmax_t)WAV_HEADER_BYTES + (uintmax_t)c->wav_samples * 2, error);
    }
}

bool wav_capture_into(snd_engine* e, FILE* file) {
    snd_capture* c = &e->capture;
    OS_ASSERT(file != nullptr && c->wav_file == nullptr && c->queue == nullptr);
    if (!file || c->wav_file || c->queue) return false;
    c->queue = (int16_t*)os_alloc(WAV_QUEUE_BLOCKS * SND_BLOCK * (int32_t)sizeof(int16_t));
    if (!c->queue) return false;
    c->wav_file = file;
    c->wav_path = nullptr;
    c->wav_samples = 0;
    c->wav_failed = 0;
    c->queued.store(0, std::memory_order_relaxed);
    c->written.store(0, std::memory_order_relaxed);
    c->overflow.store(0, std::memory_order_relaxed);
    c->taking.store(1, std::memory_order_release);
    return true;
}

void wav_start(snd_engine* e) {
    snd_capture* c = &e->capture;
    // A capture still running is finished properly before "song.wav" is replaced.
    OS_ASSERT(c->wav_file == nullptr);
    if (c->wav_file || c->queue) {
        wav_end_taking(e);
        wav_stop(e);
    }
    // A capture that cannot begin (the file cannot be created where the program runs, or no memory for the queue)
    // is reported as a failed one: recording nothing while the button says it records would lose the take.
    FILE* file = fopen(WAV_NAME, "wb+");
    if (!file) {
        c->wav_failed = 1;
        return;
    }
    // Unbuffered: each block is one write, so a failed one tells exactly how many bytes reached the file.
    setvbuf(file, nullptr, _IONBF, 0);
    wav_write_header(file, 0);
    if (!wav_capture_into(e, file)) {
        fclose(file);
        c->wav_failed = 1;
        return;
    }
    c->wav_path = WAV_NAME;
}

void wav_end_taking(snd_engine* e) { e->capture.taking.store(0, std::memory_order_release); }

int32_t wav_drain(snd_engine* e) {
    snd_capture* c = &e->capture;
    if (!c->wav_file || !c->queue) return 0;
    // The renderer hands nothing over after it has seen the queue full, so the count read after the overflow
    // flag is final.
    const bool overflowed = c->overflow.load(std::memory_order_acquire);
    const uint32_t queued = c->queued.load(std::memory_order_acquire);
    uint32_t written = c->written.load(std::memory_order_relaxed);
    int32_t blocks = 0;
    for (; written != queued; written++, blocks++) {
        const int16_t* block = c->queue + (size_t)(written % WAV_QUEUE_BLOCKS) * SND_BLOCK;
        if (c->wav_samples > WAV_MAX_DATA / 2 - SND_BLOCK) continue; // the header could not count more
        const size_t bytes = wav_write_samples(c->wav_file, block, SND_BLOCK, c->write);
        c->wav_samples += (int32_t)(bytes / 2);
        if (bytes != (size_t)SND_BLOCK * 2) {
            c->written.store(written + 1, std::memory_order_release);
            wav_fail(c, bytes % 2 != 0);
            return blocks;
        }
        c->written.store(written + 1, std::memory_order_release);
    }
    if (overflowed) wav_fail(c, false);
    return blocks;
}

int32_t wav_stop(snd_engine* e) {
    snd_capture* c = &e->capture;
    OS_ASSERT(c->wav_file != nullptr || c->queue != nullptr);
    c->taking.store(0, std::memory_order_release);
    wav_drain(e);
    const int32_t result = c->wav_file ? wav_finish(c) : EOF;
    if (c->queue) os_free(&c->queue);
    c->queued.store(0, std::memory_order_relaxed);
    c->written.store(0, std::memory_order_relaxed);
    c->overflow.store(0, std::memory_order_relaxed);
    return result;
}

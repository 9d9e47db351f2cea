// Manual audio device for tests: implements the device layer (audio_device.h) without sound. Queued blocks wait in
// order until the test hands them back one at a time, or, in auto mode, go back as soon as they are queued, so the
// audio thread refills as fast as it can. Safe to use from the test thread while the audio thread queues.
#pragma once
#include <cstdint>
#include <vector>

extern bool manual_audio_fail_open;   // the next audio_dev_open fails (the "no device" state)
extern bool manual_audio_absent;      // no device at all: every audio_dev_open fails while set (clear it to plug
                                      // one in)
extern bool manual_audio_auto_return; // hand every block back as soon as it is queued
extern bool manual_audio_record;      // keep a copy of the samples of every queued block
extern bool manual_audio_pull;        // take samples as they play, as SDL's device does: nothing primed or queued, the
                                      // test takes each period's samples (manual_audio_take)

// Back to a closed device with no failures, no auto mode, no recording and all counters zero.
void manual_audio_reset_state();

bool manual_audio_is_open();
int32_t manual_audio_queued();       // blocks waiting on the device
int64_t manual_audio_total_queued();  // blocks queued since the device was opened
int64_t manual_audio_total_samples(); // samples queued or taken since the device was opened
int32_t manual_audio_resets();       // audio_dev_reset calls since the state was reset
int32_t manual_audio_closes();       // audio_dev_close calls since the state was reset
int32_t manual_audio_opens();        // audio_dev_open calls since the state was reset, failed ones included
int64_t manual_audio_sounding();     // queued blocks (or taken periods) that held any sample other than 0
int32_t manual_audio_max_in_use();   // most headers marked in use at the moment a block was queued
// Header index (into audio_headers) of each waiting block, oldest first.
std::vector<int32_t> manual_audio_queue_indices();
// Sample offset into audio_ring of each waiting block, oldest first.
std::vector<int32_t> manual_audio_queue_offsets();
// Every sample queued since recording began, in queue order.
std::vector<int16_t> manual_audio_recorded();

// Hands the oldest waiting block back to the audio thread; false when none waits.
bool manual_audio_return_one();
// Takes the next count samples as SDL's callback does (audio_pull), on the calling thread, and records them when
// recording; false when they were silence because the sound system stayed busy.
bool manual_audio_take(int32_t count);
// Waits until at least total blocks have been queued since open; false after timeout_ms without it.
bool manual_audio_wait_total(int64_t total, int32_t timeout_ms = 10000);

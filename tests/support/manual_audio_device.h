// Manual audio device for tests: implements the device layer (audio_device.h) without sound. Queued blocks wait in
// order until the test hands them back one at a time, or, in auto mode, go back as soon as they are queued, so the
// audio thread refills as fast as it can. Safe to use from the test thread while the audio thread queues.
#pragma once
#include <cstdint>
#include <vector>

extern bool manual_audio_fail_open;   // the next audio_dev_open fails (the "no device" state)
extern bool manual_audio_auto_return; // hand every block back as soon as it is queued
extern bool manual_audio_record;      // keep a copy of the samples of every queued block
extern bool manual_audio_pull;        // ask for sound as SDL's device does: one block primed, finished headers handed
                                      // back without a replacement, each further part asked for by the test

// Back to a closed device with no failures, no auto mode, no recording and all counters zero.
void manual_audio_reset_state();

bool manual_audio_is_open();
int32_t manual_audio_queued();       // blocks waiting on the device
int64_t manual_audio_total_queued(); // headers (blocks, or parts when asking for sound) queued since the open
int64_t manual_audio_total_samples(); // samples queued since the device was opened
int32_t manual_audio_resets();       // audio_dev_reset calls since the state was reset
int32_t manual_audio_closes();       // audio_dev_close calls since the state was reset
int64_t manual_audio_sounding();     // queued blocks that held any sample other than 0
int32_t manual_audio_max_in_use();   // most headers marked in use at the moment a block was queued
// Header index (into audio_headers) of each waiting block, oldest first.
std::vector<int32_t> manual_audio_queue_indices();
// Sample offset into audio_ring of each waiting block, oldest first.
std::vector<int32_t> manual_audio_queue_offsets();
// Every sample queued since recording began, in queue order.
std::vector<int16_t> manual_audio_recorded();

// Hands the oldest waiting block back to the audio thread; false when none waits.
bool manual_audio_return_one();
// Asks the audio thread for the next part (AUDIO_MSG_NEED), as a device that asks for sound itself does.
void manual_audio_request_one();
// Waits until at least total blocks have been queued since open; false after timeout_ms without it.
bool manual_audio_wait_total(int64_t total, int32_t timeout_ms = 10000);
// Waits until at least total samples have been queued since open; false after timeout_ms without it.
bool manual_audio_wait_samples(int64_t total, int32_t timeout_ms = 10000);

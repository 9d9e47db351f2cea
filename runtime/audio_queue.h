// The audio thread's message queue for sound devices that have none of their own (the SDL2 device and the tests'
// manual device): a small ring of block-done and quit messages under a mutex, with a condition variable for the
// audio thread to wait on. Those devices provide the device layer's message service (audio_device.h) with it;
// the Win32 device uses the audio thread's own Windows message queue instead.
#pragma once
#include "audio_device.h"

// Any thread: appends a message. The queue holds more messages than can ever be outstanding.
void audio_queue_post(int32_t kind, audio_header* header);
// Audio thread: waits for the oldest message and takes it.
audio_message audio_queue_wait();
// Drops every waiting message.
void audio_queue_clear();

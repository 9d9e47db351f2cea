// No MIDI input: the backend of builds made without RtMidi, JACK or ALSA. The tracker runs without a MIDI keyboard
// and says so once.
#include "os_midi.h"
#include "os_tools.h"

int32_t os_midi_open(int32_t) {
    os_log("MIDI: this build has no MIDI input\n");
    return 0;
}

void os_midi_close() {}

int32_t os_midi_list(int32_t, void (*)(const char*, void*), void*, const char** name_of_api) {
    *name_of_api = "MIDI input of this build";
    return -1;
}

// Headless MIDI backend for tests: no system is opened; the test plays the backend's thread itself by calling
// os_midi_feed, and scripts what opening and listing answer.
#include "headless.h"
#include "os_midi.h"

int32_t hl_midi_api = OS_MIDI_OFF;      // the system os_midi_open was last asked for while input runs; OFF when closed
int32_t hl_midi_opens;                  // os_midi_open calls
int32_t hl_midi_open_result = 1;        // what os_midi_open answers
std::vector<std::string> hl_midi_ports; // what os_midi_list names

int32_t os_midi_open(int32_t api) {
    hl_midi_opens++;
    if (hl_midi_open_result) {
        hl_midi_api = api;
        os_midi_begin_source(0);
    }
    return hl_midi_open_result;
}

void os_midi_close() { hl_midi_api = OS_MIDI_OFF; }

int32_t os_midi_list(int32_t api, void (*port)(const char* name, void* context), void* context,
                     const char** name_of_api) {
    *name_of_api = api == OS_MIDI_ALSA ? "ALSA sequencer" : "JACK";
    if (!hl_midi_open_result) return -1;
    for (const std::string& name : hl_midi_ports) port(name.c_str(), context);
    return (int32_t)hl_midi_ports.size();
}

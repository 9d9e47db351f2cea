// MIDI input, portable part: the byte parser, the lock-free queues that carry note-ons from a backend's own thread
// to the main loop, and the short interface every MIDI backend implements (platform/midi/ on Linux,
// platform/win32/midi_win32.cpp on Windows, tests/support/ for the tests). A backend hands over raw MIDI bytes,
// as they came from the wire or the system, with os_midi_feed; it never sees a note, and the portable code never
// sees a native type.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

// ---- The byte parser: running status, real-time bytes anywhere, SysEx and system common messages skipped, a
// truncated message dropped when the next status byte arrives.
struct os_midi_parser {
    uint8_t status;  // status of the channel message being read (also the running status); 0: none, data is dropped
    uint8_t count;   // data bytes of it read so far
    uint8_t data[2]; // those data bytes
    uint8_t sysex;   // 1 between a SysEx start (F0) and the next status byte
    uint8_t skip;    // data bytes of a system common message still to be skipped
};

// A complete channel message (status 80..EF); data2 is 0 for the one-byte messages (Cn, Dn).
struct os_midi_message {
    uint8_t status;
    uint8_t data1;
    uint8_t data2;
};

void os_midi_parser_reset(os_midi_parser* p);
// Reads one byte. Returns 1 when it completes a channel message, written to *out; 0 otherwise.
int32_t os_midi_parse(os_midi_parser* p, uint8_t byte, os_midi_message* out);
// A note-on with a velocity above 0, on any channel: the one message the tracker acts on.
bool os_midi_is_note_on(const os_midi_message& m);

// ---- The queues. Each source (one backend thread, or one device whose callbacks never overlap) has a parser and
// a single-producer, single-consumer ring of note-ons of its own: the source's thread writes, the main thread
// reads, and neither ever waits for the other.
constexpr int32_t OS_MIDI_SOURCES = 16; // sources that can feed at once
constexpr int32_t OS_MIDI_QUEUE =
    256; // note-ons a source's ring holds; more before the main loop takes them are dropped

struct os_midi_note {
    uint8_t key;      // MIDI note number 0..127
    uint8_t velocity; // 1..127
};

// Backend, before a source's first os_midi_feed and while nothing feeds it: its parser starts afresh.
void os_midi_begin_source(int32_t source);
// The source's thread: parses the bytes and queues their note-ons. Never blocks, never allocates.
void os_midi_feed(int32_t source, const uint8_t* bytes, size_t count);
// Set by the window backend: wakes the main loop from its wait for the next event or step, from any thread, so that
// a note-on queued now is taken at once rather than after the next event or step. Null: nothing to wake.
extern std::atomic<void (*)()> os_midi_wake;
// Main thread: takes the oldest queued note-on of some source; 1 when one was taken.
int32_t os_midi_take(os_midi_note* out);
// Main thread: drops every queued note-on (they arrived while a modal dialog had the program).
void os_midi_forget();
// Main thread: note-ons dropped because a ring was full, since the last call.
int32_t os_midi_take_dropped();

// ---- Provided by the backend. The tracker opens MIDI input after its start-up and closes it before its shut-down,
// on the main thread.
enum : int32_t {
    OS_MIDI_OFF = 0,  // no MIDI input
    OS_MIDI_AUTO = 1, // the system's usual input: JACK when a JACK server runs, else the ALSA sequencer; winmm
    OS_MIDI_ALSA = 2, // the ALSA sequencer
    OS_MIDI_JACK = 3, // JACK
};
// Starts MIDI input with the chosen system: the tracker's input port, connected to every port or device there is
// and, from then on, to those that appear (one second at most). Returns 1 when input runs, 0 when it could not
// start (logged; the tracker runs on without it).
int32_t os_midi_open(int32_t api);
// Stops it: no os_midi_feed after this returns. Nothing happens when input does not run.
void os_midi_close();
// Writes the ports or devices os_midi_open(api) would connect, one per call of port; returns how many there are,
// or -1 when that system is not available. name_of_api receives the system's name ("ALSA sequencer", "JACK",
// "Windows MIDI"), before the first port, whether or not it is available.
int32_t os_midi_list(int32_t api, void (*port)(const char* name, void* context), void* context,
                     const char** name_of_api);

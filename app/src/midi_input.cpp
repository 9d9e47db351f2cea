// Notes from a MIDI keyboard: MIDI input opened and closed around the frame loop, the note-ons the backend queued
// taken after each window event, and each one turned into what a typed note key does. Main thread; the backend's
// own thread only fills the queues of os_midi.cpp.
#include "app.h"

#include "os_midi.h"
#include "os_tools.h"

int32_t app_midi_api;         // the system MIDI input is opened with (OS_MIDI_*); set by the entry point
static bool app_midi_running; // os_midi_open succeeded and os_midi_close is still to come

void app_open_midi() {
    if (app_midi_api == OS_MIDI_OFF) {
        os_log("MIDI: off\n");
        return;
    }
    app_midi_running = os_midi_open(app_midi_api) != 0;
}

void app_close_midi() {
    if (!app_midi_running) return;
    app_midi_running = false;
    os_midi_close();
}

int32_t app_midi_key_note(int32_t key) {
    const int32_t index = key - 12;
    if (index < 0 || index >= SND_NOTES) return -1;
    return index / 12 * 16 + index % 12;
}

int32_t app_midi_velocity_volume(int32_t velocity) {
    if (velocity < 1) velocity = 1;
    if (velocity > 127) velocity = 127;
    return (velocity * 15 + 126) / 127;
}

void app_toggle_midi_velocity() {
    app.editor.midi_velocity = app.editor.midi_velocity ? 0 : 1;
    os_log("MIDI velocity %s\n", app.editor.midi_velocity ? "on" : "off");
}

void app_midi_note(int32_t key, int32_t velocity) {
    const int32_t note = app_midi_key_note(key);
    if (note < 0) return;
    app_lock();
    // The help screen has the keyboard while it is open; a MIDI keyboard waits like the computer's.
    if (!app.help_open) {
        app_undo_begin();
        app_note_input((uint8_t)note, app.editor.midi_velocity ? app_midi_velocity_volume(velocity) : -1);
        app_undo_commit();
    }
    app_unlock();
}

void app_poll_midi() {
    os_midi_note n;
    while (os_midi_take(&n)) app_midi_note(n.key, n.velocity);
    if (const int32_t dropped = os_midi_take_dropped())
        os_log("MIDI: %d notes dropped, more came at once than the queue holds\n", dropped);
}

// What --midi list prints while the backend names the ports.
struct app_port_list {
    FILE* out;             // where the lines go
    const char** api_name; // the system's name, set by the backend before the first port
    int32_t count;         // ports printed so far
};

static void app_print_port(const char* name, void* context) {
    app_port_list& list = *(app_port_list*)context;
    if (list.count++ == 0) fprintf(list.out, "MIDI input ports (%s):\n", *list.api_name);
    fprintf(list.out, "  %s\n", name);
}

int app_list_midi_ports(const app_command_line& command, FILE* out) {
    if (command.midi == OS_MIDI_OFF) {
        fputs("MIDI input is off.\n", out);
        return 0;
    }
    const char* api_name = "MIDI";
    app_port_list list = {out, &api_name, 0};
    const int32_t found = os_midi_list(command.midi, app_print_port, &list, &api_name);
    if (found < 0)
        fprintf(out, "No MIDI input: %s is not available.\n", api_name);
    else if (list.count == 0)
        fprintf(out, "No MIDI input ports (%s).\n", api_name);
    fflush(out);
    return 0;
}

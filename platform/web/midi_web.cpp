// MIDI input in the browser: Web MIDI, where the browser has it and the musician grants it (the page asks once,
// at start-up); without it the tracker runs on as before. Every input port the page is given feeds the portable
// parser and queue of os_midi.cpp as a source of its own, ports connected later too. The page's one thread: a
// port's messages arrive between two of its tasks, and the next frame takes their notes.
#include "os_midi.h"
#include "os_tools.h"

#include <emscripten.h>

extern "C" {
int32_t web_js_midi_open(uint8_t* buffer, int32_t size);
void web_js_midi_close();
}

constexpr int32_t WEB_MIDI_BUFFER = 1024; // bytes of one message the page hands over at a time

static uint8_t web_midi_buffer[WEB_MIDI_BUFFER]; // where the page writes a message's bytes
static bool web_midi_on;                         // input runs: messages are taken

// A port the page has connected, as source number source.
extern "C" EMSCRIPTEN_KEEPALIVE void web_midi_port(int32_t source, const char* name) {
    if (source < 0 || source >= OS_MIDI_SOURCES) return;
    os_midi_begin_source(source);
    os_log("MIDI: connected %s\n", name ? name : "a port");
}

// The bytes of a message from source's port, count of them at web_midi_buffer.
extern "C" EMSCRIPTEN_KEEPALIVE void web_midi_bytes(int32_t source, int32_t count) {
    if (!web_midi_on || source < 0 || source >= OS_MIDI_SOURCES || count <= 0 || count > WEB_MIDI_BUFFER) return;
    os_midi_feed(source, web_midi_buffer, (size_t)count);
}

int32_t os_midi_open(int32_t api) {
    if (api == OS_MIDI_OFF || web_midi_on) return web_midi_on ? 1 : 0;
    web_midi_on = web_js_midi_open(web_midi_buffer, WEB_MIDI_BUFFER) != 0;
    os_log(web_midi_on ? "MIDI: Web MIDI asked for\n" : "MIDI: this browser has no Web MIDI\n");
    return web_midi_on ? 1 : 0;
}

void os_midi_close() {
    if (!web_midi_on) return;
    web_midi_on = false;
    web_js_midi_close();
}

// The page cannot list ports before the musician grants them: no listing in the browser.
int32_t os_midi_list(int32_t, void (*)(const char*, void*), void*, const char** name_of_api) {
    *name_of_api = "Web MIDI";
    return -1;
}

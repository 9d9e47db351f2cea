// Fuzz target: any bytes as a MIDI stream, through the parser and a source's queue. Checks what comes out (channel
// messages with status 80..EF and data bytes below 80, one-byte messages with a zero second byte; note-ons with a
// key below 128 and a velocity of 1..127) and three properties of the stream: the real-time bytes (F8..FF) can be
// taken out without changing a message; the stream cut into two calls gives the same note-ons as in one; and a
// stream never yields more messages than it has data bytes. The first input byte chooses the cut.
#include "os_midi.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

static void fuzz_check(bool ok, const char* what) {
    if (ok) return;
    fprintf(stderr, "fuzz_midi: %s\n", what);
    abort();
}

static std::vector<os_midi_message> fuzz_parse(const uint8_t* data, size_t size, bool skip_real_time) {
    os_midi_parser p;
    os_midi_parser_reset(&p);
    std::vector<os_midi_message> out;
    for (size_t i = 0; i < size; i++) {
        if (skip_real_time && data[i] >= 0xF8) continue;
        os_midi_message m;
        if (os_midi_parse(&p, data[i], &m)) out.push_back(m);
    }
    return out;
}

static std::vector<os_midi_note> fuzz_take_all() {
    std::vector<os_midi_note> notes;
    os_midi_note n;
    while (os_midi_take(&n)) notes.push_back(n);
    return notes;
}

static bool fuzz_same(const std::vector<os_midi_message>& a, const std::vector<os_midi_message>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (a[i].status != b[i].status || a[i].data1 != b[i].data1 || a[i].data2 != b[i].data2) return false;
    return true;
}

static bool fuzz_same(const std::vector<os_midi_note>& a, const std::vector<os_midi_note>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (a[i].key != b[i].key || a[i].velocity != b[i].velocity) return false;
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t cut = 1 + data[0] * (size - 1) / 255;
    data++;
    size--;

    const std::vector<os_midi_message> messages = fuzz_parse(data, size, false);
    size_t data_bytes = 0;
    for (size_t i = 0; i < size; i++) data_bytes += data[i] < 0x80;
    fuzz_check(messages.size() <= data_bytes, "no more messages than data bytes");
    for (const os_midi_message& m : messages) {
        fuzz_check(m.status >= 0x80 && m.status <= 0xEF, "a channel message's status");
        fuzz_check(m.data1 < 0x80 && m.data2 < 0x80, "data bytes below 80");
        if ((m.status & 0xE0) == 0xC0) fuzz_check(m.data2 == 0, "one-byte messages have no second byte");
    }
    fuzz_check(fuzz_same(messages, fuzz_parse(data, size, true)), "real-time bytes change no message");

    // The queue of one source: everything at once, then the same stream in two calls.
    os_midi_begin_source(0);
    os_midi_forget();
    os_midi_take_dropped();
    os_midi_feed(0, data, size);
    const std::vector<os_midi_note> whole = fuzz_take_all();
    const int32_t dropped = os_midi_take_dropped();
    size_t note_ons = 0;
    for (const os_midi_message& m : messages) note_ons += os_midi_is_note_on(m);
    fuzz_check(whole.size() + (size_t)dropped == note_ons, "every note-on queued or counted as dropped");
    for (const os_midi_note& n : whole) fuzz_check(n.key < 0x80 && n.velocity >= 1 && n.velocity < 0x80, "a note");

    os_midi_begin_source(0);
    const size_t first = cut - 1 < size ? cut - 1 : size;
    os_midi_feed(0, data, first);
    std::vector<os_midi_note> split = fuzz_take_all();
    os_midi_feed(0, data + first, size - first);
    for (const os_midi_note& n : fuzz_take_all()) split.push_back(n);
    os_midi_take_dropped();
    if (dropped == 0) fuzz_check(fuzz_same(whole, split), "a stream cut in two gives the same notes");
    return 0;
}

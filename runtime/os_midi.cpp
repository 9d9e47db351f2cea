// MIDI input, portable part: the byte parser and the per-source rings of note-ons between the MIDI backends'
// threads and the main loop. Each ring has one writer (its source's thread) and one reader (the main thread) and
// two atomic counters; nothing here takes a lock, allocates or logs, so it may run in a real-time callback.
#include "os_midi.h"

#include <atomic>

// One source: its parser (source thread only) and its ring.
struct os_midi_source {
    os_midi_parser parser;            // source thread only
    os_midi_note ring[OS_MIDI_QUEUE]; // written by the source thread at head, read by the main thread at tail
    std::atomic<uint32_t> head;       // notes written; source thread writes, main thread reads
    std::atomic<uint32_t> tail;       // notes taken; main thread writes, source thread reads
    std::atomic<int32_t> dropped;     // notes lost to a full ring; source thread adds, main thread takes
};

static os_midi_source os_midi_sources[OS_MIDI_SOURCES]; // the sources, by the number the backend gives them
static int32_t os_midi_next_take;                       // source the main thread looks at first next time
std::atomic<void (*)()> os_midi_wake;                   // the window backend's wake-up of the main loop, or null

void os_midi_parser_reset(os_midi_parser* p) { *p = os_midi_parser{}; }

int32_t os_midi_parse(os_midi_parser* p, uint8_t byte, os_midi_message* out) {
    // Real-time bytes (clock, start, stop, active sensing, reset) may come anywhere, even inside another message,
    // and change nothing.
    if (byte >= 0xF8) return 0;
    if (byte >= 0x80) {
        // A status byte ends whatever came before it: a message still missing data bytes is dropped.
        p->count = 0;
        p->skip = 0;
        p->sysex = byte == 0xF0;
        if (byte < 0xF0) {
            p->status = byte;
            return 0;
        }
        // SysEx and the system common messages end the running status; the data bytes of the common ones
        // (song position two, time code and song select one) are skipped.
        p->status = 0;
        if (byte == 0xF2) p->skip = 2;
        if (byte == 0xF1 || byte == 0xF3) p->skip = 1;
        return 0;
    }
    if (p->sysex) return 0;
    if (p->skip > 0) {
        p->skip--;
        return 0;
    }
    if (p->status == 0) return 0;
    p->data[p->count++] = byte;
    // Program change (Cn) and channel pressure (Dn) have one data byte, the others two.
    const uint8_t needed = (p->status & 0xE0) == 0xC0 ? 1 : 2;
    if (p->count < needed) return 0;
    p->count = 0;
    out->status = p->status;
    out->data1 = p->data[0];
    out->data2 = needed == 2 ? p->data[1] : 0;
    return 1;
}

bool os_midi_is_note_on(const os_midi_message& m) { return (m.status & 0xF0) == 0x90 && m.data2 > 0; }

void os_midi_begin_source(int32_t source) {
    if (source < 0 || source >= OS_MIDI_SOURCES) return;
    os_midi_parser_reset(&os_midi_sources[source].parser);
}

void os_midi_feed(int32_t source, const uint8_t* bytes, size_t count) {
    if (source < 0 || source >= OS_MIDI_SOURCES || !bytes) return;
    os_midi_source& s = os_midi_sources[source];
    bool queued = false;
    for (size_t i = 0; i < count; i++) {
        os_midi_message m;
        if (!os_midi_parse(&s.parser, bytes[i], &m) || !os_midi_is_note_on(m)) continue;
        const uint32_t head = s.head.load(std::memory_order_relaxed);
        if (head - s.tail.load(std::memory_order_acquire) >= (uint32_t)OS_MIDI_QUEUE) {
            s.dropped.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        s.ring[head % OS_MIDI_QUEUE] = {m.data1, m.data2};
        s.head.store(head + 1, std::memory_order_release);
        queued = true;
    }
    if (!queued) return;
    if (void (*wake)() = os_midi_wake.load(std::memory_order_acquire)) wake();
}

int32_t os_midi_take(os_midi_note* out) {
    for (int32_t i = 0; i < OS_MIDI_SOURCES; i++) {
        const int32_t index = (os_midi_next_take + i) % OS_MIDI_SOURCES;
        os_midi_source& s = os_midi_sources[index];
        const uint32_t tail = s.tail.load(std::memory_order_relaxed);
        if (s.head.load(std::memory_order_acquire) == tail) continue;
        *out = s.ring[tail % OS_MIDI_QUEUE];
        s.tail.store(tail + 1, std::memory_order_release);
        // Two keyboards played at once take turns rather than one waiting for the other's ring to empty.
        os_midi_next_take = (index + 1) % OS_MIDI_SOURCES;
        return 1;
    }
    return 0;
}

void os_midi_forget() {
    for (os_midi_source& s : os_midi_sources)
        s.tail.store(s.head.load(std::memory_order_acquire), std::memory_order_release);
}

int32_t os_midi_take_dropped() {
    int32_t total = 0;
    for (os_midi_source& s : os_midi_sources) total += s.dropped.exchange(0, std::memory_order_relaxed);
    return total;
}

// MIDI input's portable part: the byte parser over a table of byte streams (running status, real-time bytes inside
// messages, SysEx, system common messages, truncated and stray bytes), which note-ons reach the queues, and the
// queues between backend threads and the main thread (order, a full ring, forgetting, two threads feeding while
// the main thread takes; the ThreadSanitizer build runs this suite too).
#include "os_midi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

struct ParseRow {
    const char* what;
    std::vector<uint8_t> bytes;
    std::vector<os_midi_message> messages; // what the parser hands on, in order
};

std::string describe(const std::vector<os_midi_message>& messages) {
    std::string s;
    char one[16];
    for (const os_midi_message& m : messages) {
        snprintf(one, sizeof one, "%02X %02X %02X, ", m.status, m.data1, m.data2);
        s += one;
    }
    return s;
}

std::vector<os_midi_message> parse_all(const std::vector<uint8_t>& bytes) {
    os_midi_parser p;
    os_midi_parser_reset(&p);
    std::vector<os_midi_message> out;
    for (uint8_t b : bytes) {
        os_midi_message m;
        if (os_midi_parse(&p, b, &m)) out.push_back(m);
    }
    return out;
}

TEST(MidiParser, ByteStreams) {
    const ParseRow rows[] = {
        {"running status",
         {0x90, 0x3C, 0x64, 0x3E, 0x65, 0x40, 0x00},
         {{0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x65}, {0x90, 0x40, 0x00}}},
        {"controllers in running status, pitch bend and key pressure take two bytes",
         {0xB3, 0x07, 0x64, 0x0A, 0x20, 0xE0, 0x00, 0x40, 0xA0, 0x3C, 0x20},
         {{0xB3, 0x07, 0x64}, {0xB3, 0x0A, 0x20}, {0xE0, 0x00, 0x40}, {0xA0, 0x3C, 0x20}}},
        {"program change and channel pressure take one byte",
         {0xC0, 0x05, 0xD2, 0x40, 0x06},
         {{0xC0, 0x05, 0x00}, {0xD2, 0x40, 0x00}, {0xD2, 0x06, 0x00}}},
        {"real-time bytes, defined or not, inside a message",
         {0x90, 0xF8, 0x3C, 0xF9, 0xFE, 0x64, 0xFD, 0xFF},
         {{0x90, 0x3C, 0x64}}},
        {"real-time bytes keep the running status",
         {0x90, 0x3C, 0x64, 0xF8, 0xFC, 0x3E, 0x65},
         {{0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x65}}},
        {"a message cut short by a status byte is dropped",
         {0x90, 0x3C, 0x64, 0x3E, 0x80, 0x3E, 0x00},
         {{0x90, 0x3C, 0x64}, {0x80, 0x3E, 0x00}}},
        {"SysEx skipped, its end ends the running status",
         {0x90, 0x3C, 0x64, 0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0x3E, 0x65, 0x91, 0x3E, 0x65},
         {{0x90, 0x3C, 0x64}, {0x91, 0x3E, 0x65}}},
        {"SysEx ended by the next status byte", {0xF0, 0x01, 0x02, 0x90, 0x3C, 0x64}, {{0x90, 0x3C, 0x64}}},
        {"SysEx that looks like notes", {0xF0, 0x90, 0x3C}, {}},
        {"song position skips two bytes, ends the running status",
         {0x90, 0x3C, 0x64, 0xF2, 0x10, 0x20, 0x3C, 0x64},
         {{0x90, 0x3C, 0x64}}},
        {"time code and song select skip one byte",
         {0xF1, 0x10, 0x3C, 0xF3, 0x01, 0x3C, 0x90, 0x3C, 0x64},
         {{0x90, 0x3C, 0x64}}},
        {"tune request and undefined system bytes", {0x90, 0x3C, 0xF6, 0x64, 0xF4, 0x3C, 0x64, 0xF5, 0x01}, {}},
        {"data before any status byte", {0x3C, 0x64, 0x90, 0x3C, 0x64}, {{0x90, 0x3C, 0x64}}},
        {"a stray end of SysEx", {0xF7, 0x3C, 0x64}, {}},
    };
    for (const ParseRow& row : rows) {
        const std::vector<os_midi_message> got = parse_all(row.bytes);
        EXPECT_EQ(describe(got), describe(row.messages)) << row.what;
    }
}

class MidiQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int32_t s = 0; s < OS_MIDI_SOURCES; s++) os_midi_begin_source(s);
        os_midi_forget();
        os_midi_take_dropped();
    }
    void feed(int32_t source, std::vector<uint8_t> bytes) { os_midi_feed(source, bytes.data(), bytes.size()); }
    std::vector<std::pair<int, int>> take_all() {
        std::vector<std::pair<int, int>> notes;
        os_midi_note n;
        while (os_midi_take(&n)) notes.push_back({n.key, n.velocity});
        return notes;
    }
};

TEST_F(MidiQueueTest, NoteOnsArriveInOrderEverythingElseStaysBehind) {
    // A keyboard's stream: clock, note-on, note-off, note-on with velocity 0 (a note-off), controllers, bend,
    // channel and key pressure, SysEx, and notes in running status on channel 16.
    feed(0, {0xF8, 0x90, 0x3C, 0x64, 0x80, 0x3C, 0x40, 0x90, 0x3E, 0x00, 0xB0, 0x40, 0x7F, 0xE0, 0x00, 0x40,
             0xD0, 0x30, 0xA0, 0x3C, 0x64, 0xF0, 0x7D, 0x01, 0xF7, 0x9F, 0x40, 0x01, 0x41, 0x7F, 0x42, 0x00});
    EXPECT_EQ(take_all(), (std::vector<std::pair<int, int>>{{0x3C, 0x64}, {0x40, 0x01}, {0x41, 0x7F}}));
    EXPECT_TRUE(take_all().empty());
    // A message cut between two calls goes on where it stopped.
    feed(3, {0x90, 0x45});
    EXPECT_TRUE(take_all().empty());
    feed(3, {0x50});
    EXPECT_EQ(take_all(), (std::vector<std::pair<int, int>>{{0x45, 0x50}}));
    // Sources outside the table are refused, not written past it.
    feed(OS_MIDI_SOURCES, {0x90, 0x3C, 0x64});
    feed(-1, {0x90, 0x3C, 0x64});
    EXPECT_TRUE(take_all().empty());
}

TEST_F(MidiQueueTest, AFullRingDropsTheNewestAndCountsThem) {
    std::vector<uint8_t> bytes = {0x90};
    for (int32_t i = 0; i < OS_MIDI_QUEUE + 44; i++) {
        bytes.push_back((uint8_t)(i % 128));
        bytes.push_back((uint8_t)(1 + i / 128));
    }
    feed(1, bytes);
    const auto notes = take_all();
    ASSERT_EQ(notes.size(), (size_t)OS_MIDI_QUEUE);
    EXPECT_EQ(notes.front(), std::make_pair(0, 1));
    EXPECT_EQ(notes.back(), std::make_pair((OS_MIDI_QUEUE - 1) % 128, 1 + (OS_MIDI_QUEUE - 1) / 128));
    EXPECT_EQ(os_midi_take_dropped(), 44);
    EXPECT_EQ(os_midi_take_dropped(), 0);
    feed(1, {0x3C, 0x64}); // the running status lives on; the ring has room again
    EXPECT_EQ(take_all(), (std::vector<std::pair<int, int>>{{0x3C, 0x64}}));
}

TEST_F(MidiQueueTest, ForgetDropsWhatIsQueued) {
    feed(0, {0x90, 0x3C, 0x64});
    feed(5, {0x90, 0x3D, 0x64});
    os_midi_forget();
    EXPECT_TRUE(take_all().empty());
    feed(5, {0x3E, 0x64});
    EXPECT_EQ(take_all(), (std::vector<std::pair<int, int>>{{0x3E, 0x64}}));
}

// A feed that queues a note-on wakes the main loop once, whatever else it carried; one that queues none does not.
int wakes;
void count_wake() { wakes++; }

TEST_F(MidiQueueTest, AQueuedNoteOnWakesTheMainLoop) {
    wakes = 0;
    os_midi_wake.store(count_wake);
    const struct {
        std::vector<uint8_t> bytes;
        int wakes; // expected
    } feeds[] = {
        {{0x90, 0x3C, 0x64}, 1},             // a note-on
        {{0x80, 0x3C, 0x40, 0xF8}, 0},       // a note-off and a clock
        {{0x90, 0x3E, 0x00}, 0},             // a note-on with velocity 0
        {{0x90, 0x40, 0x20, 0x41, 0x21}, 1}, // two note-ons, one feed
        {{0x90, 0x45}, 0},                   // a note-on cut short ...
        {{0x50}, 1},                         // ... and completed
    };
    for (const auto& f : feeds) {
        wakes = 0;
        feed(2, f.bytes);
        EXPECT_EQ(wakes, f.wakes);
    }
    os_midi_wake.store(nullptr);
    feed(2, {0x90, 0x3C, 0x64});
    EXPECT_EQ(take_all().size(), 5u);
}

// Two backend threads feed at once, a byte or a few at a time, while the main thread takes: every note arrives
// once, each source's in its order, or is counted as dropped.
TEST_F(MidiQueueTest, TwoThreadsFeedWhileTheMainThreadTakes) {
    constexpr int32_t per_source = 64 * 127; // every key of a source's half with every velocity
    std::atomic<int32_t> finished{0};
    // Source 2 plays keys 0..63, source 7 keys 64..127; the note's number in its source's sequence is
    // (velocity - 1) * 64 + key % 64.
    auto producer = [&](int32_t source, uint8_t first_key) {
        for (int32_t i = 0; i < per_source; i++) {
            const uint8_t key = (uint8_t)(first_key + i % 64), velocity = (uint8_t)(1 + i / 64);
            if (i % 4 == 0) {
                const uint8_t status[] = {0x90, key};
                os_midi_feed(source, status, 2);
                os_midi_feed(source, &velocity, 1);
            } else {
                const uint8_t running[] = {key, 0xF8, velocity}; // in running status, a clock byte inside
                os_midi_feed(source, running, 3);
            }
            if (i % 64 == 0) std::this_thread::yield();
        }
        finished.fetch_add(1);
    };
    std::thread a(producer, 2, 0), b(producer, 7, 64);
    int32_t last[2] = {-1, -1};
    int32_t taken = 0, out_of_order = 0;
    for (bool done = false; !done;) {
        done = finished.load() == 2;
        os_midi_note n;
        while (os_midi_take(&n)) {
            const int32_t half = n.key / 64;
            const int32_t number = (n.velocity - 1) * 64 + n.key % 64;
            if (number <= last[half]) out_of_order++;
            last[half] = number;
            taken++;
        }
    }
    a.join();
    b.join();
    EXPECT_EQ(out_of_order, 0);
    EXPECT_EQ(taken + os_midi_take_dropped(), 2 * per_source);
    EXPECT_GT(taken, 0);
}

} // namespace

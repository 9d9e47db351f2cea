// The frame clock's timing and the key table, against a scripted clock and a test program run by a host loop of
// the test's own.
#include "graph.h"
#include "headless.h"
#include "log_capture.h"
#include "os_platform.h"
#include "os_tools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// ---- Test program: records what the host loop reaches.
std::vector<std::string> calls; // step parts in call order
int app_updates;                // updates run
uint16_t key_seen;              // os_keys[key_probe] as the update saw it
int key_probe = 'Q';
bool host_started;              // the host has started the test program

// One pass of a host's loop over the frame clock: the start-up on the first call, then a step when one is due,
// otherwise a wait for an event until it is.
void host_tick() {
    if (!host_started) {
        host_started = true;
        os_frame_start();
        calls.push_back("init");
        os_step_ms = 25;
        os_frame_started();
        return;
    }
    const int32_t wait = os_frame_due();
    if (wait > 0) {
        os_wait_event(wait);
        return;
    }
    calls.push_back("update");
    app_updates++;
    key_seen = os_keys[key_probe];
    calls.push_back("interface");
    calls.push_back("pattern");
    os_frame_done();
}

class FrameLoop : public ::testing::Test {
protected:
    void SetUp() override {
        hl_reset_loop();
        hl_sleep_advances = false;
        calls.clear();
        host_started = false;
        app_updates = 0;
        key_seen = 0;
    }
    // One tick at ms milliseconds of clock.
    void tick_at(int64_t ms) {
        hl_set_time_ms(ms);
        host_tick();
    }
};

TEST_F(FrameLoop, FirstTickStartsTheApplicationAndRunsNoStep) {
    tick_at(0);
    EXPECT_EQ(calls, std::vector<std::string>{"init"});
    EXPECT_EQ(os_frames, 0);
    EXPECT_EQ(os_step_ms, 25);
}

TEST_F(FrameLoop, SecondTickRunsAStepInOrderWhateverTheTime) {
    tick_at(0);
    tick_at(1);
    EXPECT_EQ(calls, (std::vector<std::string>{"init", "update", "interface", "pattern"}));
}

TEST_F(FrameLoop, StartUpTimeIsNotCounted) {
    tick_at(0);
    hl_set_time_ms(500); // start-up took long; the next tick still sees no elapsed time
    os_time_prev = (uint16_t)os_time_ms();
    tick_at(500);
    EXPECT_EQ(app_updates, 1);
    EXPECT_EQ(os_clock, 0u);
}

// Between steps the loop waits for the next event or the step's due time, whichever comes first; an event wakes
// it early, and the steps stay 25 ms of clock apart, a late one delaying the later ones without catching up.
TEST_F(FrameLoop, WaitsUntilTheStepIsDueAndStepsEvery25MsOfClock) {
    tick_at(0);
    tick_at(0); // first step at clock 0, next due at 25
    ASSERT_EQ(app_updates, 1);
    tick_at(1);  // woken early, say by an event
    tick_at(24); // and again
    EXPECT_EQ(app_updates, 1);
    EXPECT_EQ(hl_waits, (std::vector<int32_t>{24, 1}));
    tick_at(25);
    EXPECT_EQ(app_updates, 2);
    EXPECT_EQ(hl_waits.size(), 2u);
    for (int ms = 26; ms <= 100; ms++) tick_at(ms);
    EXPECT_EQ(app_updates, 5); // steps at 0, 25, 50, 75, 100
    EXPECT_EQ(hl_sleeps, 0);   // no 1 ms sleeps any more

    // Stalled: one step at 200, none to catch up, and the wait counts from there.
    hl_waits.clear();
    tick_at(200);
    tick_at(200);
    EXPECT_EQ(app_updates, 6);
    EXPECT_EQ(os_next_step, 225u);
    tick_at(224);
    EXPECT_EQ(app_updates, 6);
    EXPECT_EQ(hl_waits, (std::vector<int32_t>{25, 1}));
}

// Left to itself the loop sleeps through the whole wait: one wait and one step per 25 ms of clock.
TEST_F(FrameLoop, IdleLoopWakesOncePerStep) {
    hl_sleep_advances = true;
    tick_at(0);
    tick_at(0);
    for (int i = 0; i < 80; i++) host_tick();
    EXPECT_EQ(app_updates, 41);
    EXPECT_EQ(hl_waits.size(), 40u);
    EXPECT_EQ(std::count(hl_waits.begin(), hl_waits.end(), 25), 40);
}

TEST_F(FrameLoop, SixteenBitWrapIsCorrectedAndLogged) {
    tick_at(0);
    tick_at(0);
    os_clock = 1000;
    os_next_step = 5000;
    os_time_prev = 0xFFF0;
    hl_set_time_ms(0x10005); // low 16 bits: 0x0005
    LogCapture log;
    host_tick();
    EXPECT_EQ(log.count("fix time:0xFFF0 -> 0x5\n"), 1);
    EXPECT_EQ(os_clock, 1020u); // 20 ms, one less than the true 21
}

TEST_F(FrameLoop, FirstStepLogsTheFrameRateThenAboutOncePerSecond) {
    LogCapture log;
    tick_at(0);
    tick_at(0);
    EXPECT_EQ(log.count("FPS:1 (0)\n"), 1);
    for (int ms = 25; ms <= 1000; ms += 25) tick_at(ms);
    EXPECT_EQ(log.count("FPS:"), 2);
    EXPECT_EQ(log.count("FPS:40 (1000)\n"), 1);
}

TEST_F(FrameLoop, KeyCountersReadOneInTheFirstStepThenCycle) {
    tick_at(0);
    os_set_key('Q', 1);
    tick_at(0);
    EXPECT_EQ(key_seen, 1);
    EXPECT_EQ(os_keys['Q'], 2);
    int64_t ms = 0;
    std::vector<uint16_t> seen;
    for (int i = 0; i < 260; i++) {
        ms += 25;
        tick_at(ms);
        seen.push_back(key_seen);
    }
    EXPECT_EQ(seen[0], 2);
    EXPECT_EQ(seen[252], 254);
    EXPECT_EQ(seen[253], 1); // after 254 the counter starts again at 1
    EXPECT_EQ(seen[254], 2);
    os_set_key('Q', 0);
    tick_at(ms + 25);
    EXPECT_EQ(key_seen, 0);
}

TEST_F(FrameLoop, NoCounterChangesWhileNoKeyIsHeld) {
    tick_at(0);
    os_keys[7] = 9; // a stale value the loop must not touch without a held key
    tick_at(0);
    EXPECT_EQ(os_keys[7], 9);
}

// What the next steps see of presses and releases between two steps: a quick tap reads 1 in exactly one step.
TEST_F(FrameLoop, QuickTapsCountOnceAndHeldKeysCountOn) {
    tick_at(0);
    const struct {
        std::vector<int> events;    // 1 press, 0 release, before the first step
        std::vector<uint16_t> seen; // os_keys['Q'] in the next three steps
    } cases[] = {{{1, 0}, {1, 0, 0}}, {{1, 0, 1, 0}, {1, 0, 0}}, {{1, 0, 1}, {1, 2, 3}}, {{1}, {1, 2, 3}}};
    int64_t ms = 0;
    for (const auto& c : cases) {
        for (int e : c.events) os_set_key('Q', e);
        std::vector<uint16_t> seen;
        for (int i = 0; i < 3; i++) tick_at(ms += 25), seen.push_back(key_seen);
        EXPECT_EQ(seen, c.seen) << c.events.size() << " events";
        os_set_key('Q', 0);
        tick_at(ms += 25);
        EXPECT_EQ(os_keys_held, 0);
    }
    // A release after a step saw the press frees the key at once, also when its counter has wrapped back to 1.
    os_set_key('Q', 1);
    for (int i = 0; i < 254; i++) tick_at(ms += 25);
    ASSERT_EQ(os_keys['Q'], 1);
    os_set_key('Q', 0);
    EXPECT_EQ(os_keys['Q'], 0);
}

// With Num Lock off the keypad gives the navigation keys printed on it; with Num Lock on, and for other keys,
// the code stays.
TEST(KeyTable, KeypadWithAndWithoutNumLock) {
    const int32_t off[10] = {VK_INSERT, VK_END,   VK_DOWN, VK_NEXT, VK_LEFT,
                             VK_CLEAR,  VK_RIGHT, VK_HOME, VK_UP,   VK_PRIOR};
    for (int32_t d = 0; d < 10; d++) {
        EXPECT_EQ(os_keypad_vk(VK_NUMPAD0 + d, 0), off[d]) << d;
        EXPECT_EQ(os_keypad_vk(VK_NUMPAD0 + d, 1), VK_NUMPAD0 + d) << d;
    }
    EXPECT_EQ(os_keypad_vk(VK_DECIMAL, 0), VK_DELETE);
    EXPECT_EQ(os_keypad_vk(VK_DECIMAL, 1), VK_DECIMAL);
    for (int32_t vk : {106, 107, 109, 111, 56, 81, 38, 13}) EXPECT_EQ(os_keypad_vk(vk, 0), vk) << vk;
}

TEST(KeyTable, FixedIndicesAndVirtualKeys) {
    EXPECT_EQ(os_key_from_vk(VK_LEFT), KEY_LEFT);
    EXPECT_EQ(os_key_from_vk(VK_RIGHT), KEY_RIGHT);
    EXPECT_EQ(os_key_from_vk(VK_UP), KEY_UP);
    EXPECT_EQ(os_key_from_vk(VK_DOWN), KEY_DOWN);
    EXPECT_EQ(os_key_from_vk(VK_DELETE), KEY_DELETE);
    EXPECT_EQ(os_key_from_vk(VK_SHIFT), KEY_SHIFT);
    EXPECT_EQ(os_key_from_vk(VK_CONTROL), KEY_CTRL);
    for (int f = 0; f < 9; f++) EXPECT_EQ(os_key_from_vk(VK_F1 + f), 255 - f);
    EXPECT_EQ(os_key_from_vk(121), 121); // F10 and F11 keep their codes until the fold
    EXPECT_EQ(os_key_from_vk(VK_F12), 123);
    EXPECT_EQ(os_key_from_vk(VK_RETURN), 13);
    EXPECT_EQ(os_key_from_vk('A'), 'A');
    EXPECT_EQ(os_key_from_vk('7'), '7');
    EXPECT_EQ(os_key_from_vk(VK_NUMPAD0), 96);
}

TEST(KeyTable, FoldMovesLowerCaseCodesOntoLetters) {
    hl_reset();
    for (int code = 97; code <= 122; code++) EXPECT_EQ(os_set_key(code, 0), code - 32);
    EXPECT_EQ(os_set_key(96, 0), 96);
    EXPECT_EQ(os_set_key(123, 0), 123);
    EXPECT_EQ(os_set_key(os_key_from_vk(97), 1), 'A'); // keypad 1 lands on A
    EXPECT_EQ(os_keys['A'], 1);
}

TEST(KeyTable, PressRepeatAndRelease) {
    hl_reset();
    os_set_key('Q', 1);
    EXPECT_EQ(os_keys['Q'], 1);
    EXPECT_EQ(os_last_key, 'Q');
    EXPECT_EQ(os_keys_held, 1);
    os_keys['Q'] = 7;
    os_last_key = 0;
    os_set_key('Q', 1); // auto-repeat
    EXPECT_EQ(os_keys['Q'], 7);
    EXPECT_EQ(os_last_key, 0);
    EXPECT_EQ(os_keys_held, 1);
    os_set_key('Q', 0);
    EXPECT_EQ(os_keys['Q'], 0);
    EXPECT_EQ(os_keys_held, 0);
    os_set_key('W', 0); // release of a key never pressed
    EXPECT_EQ(os_keys_held, 0);
}

TEST(KeyTable, BothShiftKeysShareOneIndex) {
    hl_reset();
    os_set_key(os_key_from_vk(VK_SHIFT), 1);
    os_set_key(os_key_from_vk(VK_SHIFT), 1); // the other Shift
    EXPECT_EQ(os_keys_held, 1);
    os_advance_keys();
    os_set_key(os_key_from_vk(VK_SHIFT), 0);
    EXPECT_EQ(os_keys[KEY_SHIFT], 0);
    EXPECT_EQ(os_keys_held, 0);
}

TEST(Clock, MillisecondsFromTheCounter) {
    hl_reset();
    hl_counter = 0;
    const int32_t start = os_time_ms();
    hl_advance_ms(1234);
    EXPECT_EQ(os_time_ms() - start, 1234);
}

} // namespace

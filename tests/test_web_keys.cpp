// The browser page's keys: KeyboardEvent.code through the same key table as the native backends, what the
// tracker takes from the browser (its shortcuts among them, and F10) and what it leaves, Num Lock read from the key's
// meaning, auto-repeat, Alt and Meta, and focus loss.
#include "os_platform.h"
#include "platform_web.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

class WebKeys : public ::testing::Test {
protected:
    void SetUp() override {
        web_release_keys();
        os_last_key = 0;
    }
    int press(const char* code, const char* key = "x", int alt = 0, int meta = 0) {
        return web_key_event(code, key, alt, meta, 1, 0);
    }
    int release(const char* code, const char* key = "x") { return web_key_event(code, key, 0, 0, 0, 0); }
};

TEST_F(WebKeys, EveryKeyLandsOnTheIndexTheNativeBackendsGiveIt) {
    const struct {
        const char* code;
        const char* key; // what the layout and Num Lock make of it
        int32_t index;
    } table[] = {
        {"ArrowLeft", "ArrowLeft", KEY_LEFT},
        {"ArrowRight", "ArrowRight", KEY_RIGHT},
        {"ArrowUp", "ArrowUp", KEY_UP},
        {"ArrowDown", "ArrowDown", KEY_DOWN},
        {"Delete", "Delete", KEY_DELETE},
        {"ShiftLeft", "Shift", KEY_SHIFT},
        {"ShiftRight", "Shift", KEY_SHIFT},
        {"ControlLeft", "Control", KEY_CTRL},
        {"ControlRight", "Control", KEY_CTRL},
        {"F1", "F1", KEY_F1},
        {"F9", "F9", KEY_F9},
        {"F11", "F11", 'Z'},
        {"F12", "F12", 123},
        {"Enter", "Enter", KEY_RETURN},
        {"NumpadEnter", "Enter", KEY_RETURN},
        {"Space", " ", KEY_SPACE},
        {"Backspace", "Backspace", KEY_BACKSPACE},
        {"Tab", "Tab", 9},
        {"Escape", "Escape", KEY_ESCAPE},
        {"Digit0", "à", '0'},
        {"KeyA", "q", 'A'},
        {"Numpad0", "0", 96},
        {"Numpad1", "1", 'A'},
        {"Numpad9", "9", 'I'},
        {"NumpadMultiply", "*", 'J'},
        {"NumpadDecimal", ",", 'N'},
        // Num Lock off: the keys printed under the digits.
        {"Numpad2", "ArrowDown", KEY_DOWN},
        {"NumpadDecimal", "Delete", KEY_DELETE},
        {"Semicolon", ";", 186},
        {"IntlBackslash", "<", 226},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(std::string(row.code) + " " + row.key);
        web_release_keys();
        EXPECT_EQ(press(row.code, row.key), 1) << "the tracker takes it";
        EXPECT_EQ(os_keys[row.index], 1);
        EXPECT_EQ(os_last_key, row.index);
        EXPECT_EQ(os_keys_held, 1);
        os_advance_keys();
        EXPECT_EQ(release(row.code, row.key), 1);
        EXPECT_EQ(os_keys[row.index], 0);
        EXPECT_EQ(os_keys_held, 0);
    }
    for (int i = 0; i < 26; i++) {
        const char code[] = {'K', 'e', 'y', (char)('A' + i), 0};
        EXPECT_EQ(os_vk_from_code(code), 'A' + i);
    }
    for (int i = 1; i <= 12; i++) EXPECT_EQ(os_vk_from_code(("F" + std::to_string(i)).c_str()), VK_F1 + i - 1);
    for (const char* unknown : {"", "Key", "Keya", "KeyAB", "Digit10", "F0", "F13", "F01", "Numpad10", "AltLeft",
                                "PrintScreen", "Fn", "Lang1"})
        EXPECT_EQ(os_vk_from_code(unknown), 0) << unknown;
    EXPECT_EQ(os_vk_from_code(nullptr), 0);
}

TEST_F(WebKeys, F10IsTakenFromTheBrowserAndKeysThatAreNoneOfTheTrackersAreLeftToIt) {
    // F10 opens no browser menu, yet it is no key of the tracker's: its code would fold onto Y.
    EXPECT_EQ(press("F10", "F10"), 1);
    EXPECT_EQ(os_keys['Y'], 0);
    EXPECT_EQ(os_keys_held, 0);
    // Keys the program does not know stay the browser's.
    for (const char* code : {"AltLeft", "PrintScreen", "F13", "MediaPlayPause"}) EXPECT_EQ(press(code), 0) << code;
}

TEST_F(WebKeys, AltMetaAndRepeatsNeverReachTheTable) {
    EXPECT_EQ(press("ArrowLeft", "ArrowLeft", 1, 0), 0) << "Alt+Left stays the browser's";
    EXPECT_EQ(press("KeyR", "r", 0, 1), 0) << "Cmd+R stays the browser's";
    EXPECT_EQ(os_keys_held, 0);
    EXPECT_EQ(press("KeyQ"), 1);
    os_advance_keys();
    EXPECT_EQ(os_keys['Q'], 2);
    EXPECT_EQ(web_key_event("KeyQ", "q", 0, 0, 1, 1), 1) << "a repeat is taken but changes nothing";
    EXPECT_EQ(os_keys['Q'], 2);
    // A release with Alt held still frees the key.
    EXPECT_EQ(web_key_event("KeyQ", "q", 1, 0, 0, 0), 1);
    EXPECT_EQ(os_keys['Q'], 0);
    EXPECT_EQ(os_keys_held, 0);
}

TEST_F(WebKeys, AKeyIsReleasedAsItWasPressedAndFocusLossFreesAll) {
    // Keypad 2 pressed with Num Lock off (Down), released after Num Lock went on: Down is freed.
    press("Numpad2", "ArrowDown");
    os_advance_keys();
    release("Numpad2", "2");
    EXPECT_EQ(os_keys[KEY_DOWN], 0);
    EXPECT_EQ(os_keys['B'], 0);
    EXPECT_EQ(os_keys_held, 0);
    press("ShiftLeft", "Shift");
    press("KeyW");
    web_release_keys();
    EXPECT_EQ(os_keys_held, 0);
    EXPECT_EQ(os_keys[KEY_SHIFT] + os_keys['W'], 0);
    // The release that follows the focus's return finds nothing held.
    release("KeyW");
    EXPECT_EQ(os_keys_held, 0);
}

} // namespace

// Keyboard and mouse input of the SDL2 backend: physical keys to key indices, what never reaches the key table
// (Alt combinations, F10, auto-repeat), focus loss, the mouse and the quit event.
#include "os_platform.h"
#include "platform_sdl.h"

#include <SDL.h>
#include <cstring>
#include <gtest/gtest.h>

namespace {

void clear_input() {
    memset(os_keys, 0, sizeof os_keys);
    os_keys_held = 0;
    os_last_key = 0;
    os_mouse_x = os_mouse_y = os_mouse_down = 0;
}

SDL_Event key_event(bool down, SDL_Scancode code, Uint16 mod = KMOD_NONE, bool repeat = false) {
    SDL_Event e;
    memset(&e, 0, sizeof e);
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.repeat = repeat ? 1 : 0;
    e.key.keysym.scancode = code;
    e.key.keysym.mod = mod;
    return e;
}

int send(const SDL_Event& e) { return os_handle_event(&e); }

int press(SDL_Scancode code, Uint16 mod = KMOD_NONE) { return send(key_event(true, code, mod)); }
int release(SDL_Scancode code, Uint16 mod = KMOD_NONE) { return send(key_event(false, code, mod)); }

class SdlKeys : public ::testing::Test {
protected:
    void SetUp() override { clear_input(); }
};

struct KeyRow {
    SDL_Scancode code;
    int32_t index;
};

// The fixed indices, and the keys that keep their own virtual-key code.
const KeyRow key_table[] = {
    {SDL_SCANCODE_LEFT, KEY_LEFT},
    {SDL_SCANCODE_RIGHT, KEY_RIGHT},
    {SDL_SCANCODE_UP, KEY_UP},
    {SDL_SCANCODE_DOWN, KEY_DOWN},
    {SDL_SCANCODE_DELETE, KEY_DELETE},
    {SDL_SCANCODE_LSHIFT, KEY_SHIFT},
    {SDL_SCANCODE_RSHIFT, KEY_SHIFT},
    {SDL_SCANCODE_LCTRL, KEY_CTRL},
    {SDL_SCANCODE_RCTRL, KEY_CTRL},
    {SDL_SCANCODE_F1, 255},
    {SDL_SCANCODE_F2, 254},
    {SDL_SCANCODE_F3, 253},
    {SDL_SCANCODE_F4, 252},
    {SDL_SCANCODE_F5, 251},
    {SDL_SCANCODE_F6, 250},
    {SDL_SCANCODE_F7, 249},
    {SDL_SCANCODE_F8, 248},
    {SDL_SCANCODE_F9, 247},
    {SDL_SCANCODE_RETURN, 13},
    {SDL_SCANCODE_KP_ENTER, 13},
    {SDL_SCANCODE_SPACE, 32},
    {SDL_SCANCODE_BACKSPACE, 8},
    {SDL_SCANCODE_TAB, 9},
    {SDL_SCANCODE_ESCAPE, 27},
    {SDL_SCANCODE_0, '0'},
    {SDL_SCANCODE_1, '1'},
    {SDL_SCANCODE_5, '5'},
    {SDL_SCANCODE_9, '9'},
    {SDL_SCANCODE_A, 'A'},
    {SDL_SCANCODE_Q, 'Q'},
    {SDL_SCANCODE_Z, 'Z'},
    // With Num Lock on, keypad 0 and F12 keep their codes; keypad 1..9, its operators and F11 land on letters.
    {SDL_SCANCODE_KP_0, 96},
    {SDL_SCANCODE_F12, 123},
    {SDL_SCANCODE_KP_1, 'A'},
    {SDL_SCANCODE_KP_5, 'E'},
    {SDL_SCANCODE_KP_9, 'I'},
    {SDL_SCANCODE_KP_MULTIPLY, 'J'},
    {SDL_SCANCODE_KP_PLUS, 'K'},
    {SDL_SCANCODE_KP_MINUS, 'M'},
    {SDL_SCANCODE_KP_PERIOD, 'N'},
    {SDL_SCANCODE_KP_DIVIDE, 'O'},
    {SDL_SCANCODE_F11, 'Z'},
};

TEST_F(SdlKeys, EveryRowOfTheKeyTableLandsOnItsIndex) {
    for (const KeyRow& row : key_table) {
        clear_input();
        SCOPED_TRACE(SDL_GetScancodeName(row.code));
        EXPECT_EQ(os_key_event(row.code, 0, 1, 0, 1), row.index);
        EXPECT_EQ(os_keys[row.index], 1);
        EXPECT_EQ(os_last_key, row.index);
        EXPECT_EQ(os_keys_held, 1);
        os_advance_keys(); // a step has seen the press
        EXPECT_EQ(os_key_event(row.code, 0, 0, 0, 1), row.index);
        EXPECT_EQ(os_keys[row.index], 0);
        EXPECT_EQ(os_keys_held, 0);
    }
}

TEST_F(SdlKeys, LettersAndDigitsFollowThePhysicalUsPositions) {
    for (int i = 0; i < 26; i++) { EXPECT_EQ(os_vk_from_scancode(SDL_SCANCODE_A + i), 'A' + i); }
    for (int i = 0; i < 9; i++) EXPECT_EQ(os_vk_from_scancode(SDL_SCANCODE_1 + i), '1' + i);
    EXPECT_EQ(os_vk_from_scancode(SDL_SCANCODE_0), '0');
    for (int i = 0; i < 12; i++) EXPECT_EQ(os_vk_from_scancode(SDL_SCANCODE_F1 + i), VK_F1 + i);
    for (int i = 0; i < 9; i++) EXPECT_EQ(os_vk_from_scancode(SDL_SCANCODE_KP_1 + i), VK_NUMPAD0 + 1 + i);
    EXPECT_EQ(os_vk_from_scancode(SDL_SCANCODE_KP_0), VK_NUMPAD0);
    // The event carries the layout's symbol as well; only the key's place counts (Q on an AZERTY keyboard
    // prints A, and still plays the upper row's C).
    SDL_Event e = key_event(true, SDL_SCANCODE_Q);
    e.key.keysym.sym = SDLK_a;
    send(e);
    EXPECT_EQ(os_last_key, 'Q');
    EXPECT_EQ(os_keys['A'], 0);
}

TEST_F(SdlKeys, CodesFrom97To122FoldOntoTheCapitals) {
    for (int32_t code = 97; code <= 122; code++) {
        clear_input();
        EXPECT_EQ(os_set_key(code, 1), code - 32);
        EXPECT_EQ(os_keys[code - 32], 1);
        EXPECT_EQ(os_keys[code], 0);
    }
    // Among the virtual-key codes in that range, F1..F9 have indices of their own; F10 is the system's.
    for (int32_t vk = 97; vk <= 122; vk++) {
        const int32_t index = os_key_from_vk(vk);
        if (vk >= VK_F1 && vk < VK_F1 + 9)
            EXPECT_EQ(index, KEY_F1 - (vk - VK_F1));
        else
            EXPECT_EQ(os_set_key(index, 1), vk - 32);
    }
}

TEST_F(SdlKeys, SystemKeysAndUnknownKeysAreIgnored) {
    EXPECT_EQ(os_vk_from_scancode(SDL_SCANCODE_LALT), 0);
    EXPECT_EQ(os_vk_from_scancode(SDL_SCANCODE_RALT), 0);
    EXPECT_EQ(os_vk_from_scancode(SDL_SCANCODE_UNKNOWN), 0);
    EXPECT_EQ(os_key_event(SDL_SCANCODE_LALT, 1, 1, 0, 0), -1);
    EXPECT_EQ(os_key_event(SDL_SCANCODE_PRINTSCREEN, 0, 1, 0, 0), -1);
    EXPECT_EQ(os_key_event(SDL_SCANCODE_F10, 0, 1, 0, 0), -1);
    EXPECT_EQ(os_keys_held, 0);
    EXPECT_EQ(os_last_key, 0);
}

TEST_F(SdlKeys, AltCombinationsNeverReachTheKeyTable) {
    press(SDL_SCANCODE_LALT, KMOD_LALT);
    press(SDL_SCANCODE_W, KMOD_LALT);
    press(SDL_SCANCODE_F4, KMOD_LALT);
    press(SDL_SCANCODE_Q, KMOD_RALT);
    EXPECT_EQ(os_keys['W'], 0);
    EXPECT_EQ(os_keys[KEY_F4], 0);
    EXPECT_EQ(os_keys['Q'], 0);
    EXPECT_EQ(os_keys_held, 0);
    EXPECT_EQ(os_last_key, 0);
    // Alt with Shift or Ctrl is still an Alt combination.
    press(SDL_SCANCODE_S, KMOD_LALT | KMOD_LCTRL);
    EXPECT_EQ(os_keys['S'], 0);
}

TEST_F(SdlKeys, KeyPressedBeforeAltIsReleasedWithAltHeld) {
    press(SDL_SCANCODE_Q);
    ASSERT_EQ(os_keys['Q'], 1);
    os_advance_keys();
    press(SDL_SCANCODE_LALT, KMOD_LALT);
    release(SDL_SCANCODE_Q, KMOD_LALT);
    EXPECT_EQ(os_keys['Q'], 0);
    EXPECT_EQ(os_keys_held, 0);
}

TEST_F(SdlKeys, F10NeverPressesOrReleasesAnything) {
    // F10's code folds onto Y; its release must not free a held Y either.
    press(SDL_SCANCODE_Y);
    press(SDL_SCANCODE_F10);
    EXPECT_EQ(os_last_key, 'Y');
    release(SDL_SCANCODE_F10);
    EXPECT_EQ(os_keys['Y'], 1);
    EXPECT_EQ(os_keys_held, 1);
}

TEST_F(SdlKeys, AutoRepeatChangesNothing) {
    press(SDL_SCANCODE_Q);
    os_keys['Q'] = 7; // the frame loop has counted on
    os_last_key = 0;  // and the editor consumed the press
    send(key_event(true, SDL_SCANCODE_Q, KMOD_NONE, true));
    EXPECT_EQ(os_keys['Q'], 7);
    EXPECT_EQ(os_last_key, 0);
    EXPECT_EQ(os_keys_held, 1);
    release(SDL_SCANCODE_Q);
    EXPECT_EQ(os_keys['Q'], 0);
    // A repeat arriving without a recorded press (focus came back with the key down) records nothing.
    send(key_event(true, SDL_SCANCODE_W, KMOD_NONE, true));
    EXPECT_EQ(os_keys['W'], 0);
}

TEST_F(SdlKeys, BothShiftsShareOneIndex) {
    press(SDL_SCANCODE_LSHIFT, KMOD_LSHIFT);
    press(SDL_SCANCODE_RSHIFT, KMOD_SHIFT);
    EXPECT_EQ(os_keys_held, 1);
    os_advance_keys();
    release(SDL_SCANCODE_RSHIFT, KMOD_LSHIFT);
    EXPECT_EQ(os_keys[KEY_SHIFT], 0);
    EXPECT_EQ(os_keys_held, 0);
    release(SDL_SCANCODE_LSHIFT);
    EXPECT_EQ(os_keys_held, 0);
}

TEST_F(SdlKeys, LosingTheFocusReleasesEveryHeldKey) {
    press(SDL_SCANCODE_LCTRL, KMOD_LCTRL);
    press(SDL_SCANCODE_S, KMOD_LCTRL);
    press(SDL_SCANCODE_KP_1, KMOD_NUM);
    ASSERT_EQ(os_keys_held, 3);
    SDL_Event e;
    memset(&e, 0, sizeof e);
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    EXPECT_EQ(send(e), 0);
    EXPECT_EQ(os_keys_held, 0);
    for (int i = 0; i < 256; i++) EXPECT_EQ(os_keys[i], 0) << i;
    // The last press stays readable for the editor.
    EXPECT_EQ(os_last_key, 'A');
    // The release that arrives later for a key let go elsewhere changes nothing.
    release(SDL_SCANCODE_S);
    EXPECT_EQ(os_keys_held, 0);
}

// The keypad follows Num Lock as the event reports it; a key is released under the index of its press, even when
// Num Lock changed while it was down.
TEST_F(SdlKeys, KeypadFollowsNumLock) {
    press(SDL_SCANCODE_KP_2);
    EXPECT_EQ(os_last_key, KEY_DOWN);
    os_advance_keys();
    release(SDL_SCANCODE_KP_2, KMOD_NUM);
    EXPECT_EQ(os_keys_held, 0);
    press(SDL_SCANCODE_KP_PERIOD, KMOD_NUM);
    EXPECT_EQ(os_last_key, 'N');
    os_advance_keys();
    release(SDL_SCANCODE_KP_PERIOD);
    EXPECT_EQ(os_keys_held, 0);
    press(SDL_SCANCODE_KP_PERIOD);
    EXPECT_EQ(os_last_key, KEY_DELETE);
}

TEST_F(SdlKeys, MouseMotionAndLeftButton) {
    SDL_Event e;
    memset(&e, 0, sizeof e);
    e.type = SDL_MOUSEMOTION;
    e.motion.x = 123;
    e.motion.y = 456;
    send(e);
    EXPECT_EQ(os_mouse_x, 123);
    EXPECT_EQ(os_mouse_y, 456);

    memset(&e, 0, sizeof e);
    e.type = SDL_MOUSEBUTTONDOWN;
    e.button.button = SDL_BUTTON_RIGHT;
    e.button.x = 5;
    e.button.y = 6;
    send(e);
    EXPECT_EQ(os_mouse_down, 0);
    e.button.button = SDL_BUTTON_LEFT;
    send(e);
    EXPECT_EQ(os_mouse_down, 1);
    // A click reports the position of the last motion.
    EXPECT_EQ(os_mouse_x, 123);
    EXPECT_EQ(os_mouse_y, 456);
    e.type = SDL_MOUSEBUTTONUP;
    e.button.button = SDL_BUTTON_MIDDLE;
    send(e);
    EXPECT_EQ(os_mouse_down, 1);
    e.button.button = SDL_BUTTON_LEFT;
    send(e);
    EXPECT_EQ(os_mouse_down, 0);

    // Dragged outside the window: the 16-bit unsigned values of the original messages.
    memset(&e, 0, sizeof e);
    e.type = SDL_MOUSEMOTION;
    e.motion.x = -1;
    e.motion.y = -20;
    send(e);
    EXPECT_EQ(os_mouse_x, 65535);
    EXPECT_EQ(os_mouse_y, 65516);
}

TEST_F(SdlKeys, OnlyTheQuitEventEndsTheLoop) {
    SDL_Event e;
    memset(&e, 0, sizeof e);
    e.type = SDL_QUIT;
    EXPECT_EQ(send(e), 1);
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    EXPECT_EQ(send(e), 0);
    EXPECT_EQ(send(key_event(true, SDL_SCANCODE_ESCAPE)), 0);
    EXPECT_EQ(os_keys[27], 1);
}

} // namespace

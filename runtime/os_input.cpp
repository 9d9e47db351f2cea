// Polled input state: the key-state table, the last new key press and the mouse, and the advance of the key
// counters at the end of each step. Written by the platform backend's event handling and the frame loop, read by
// the application, all on the main thread.
#include "os_platform.h"

#include <cstring>

uint16_t os_keys[256];   // per key index: 0 up, else steps since the press (cycling 1..254)
uint8_t os_keys_held;    // key indices recorded as held
int32_t os_last_key;     // key index of the most recent new press
uint32_t os_key_presses; // new presses recorded so far
int32_t os_mouse_x;      // pointer x in window pixels
int32_t os_mouse_y;      // pointer y in window pixels
int32_t os_mouse_down;   // left button state

// Per key index, what happened since the last step: nothing the step has not seen, a new press, or a new press
// that was already released (the key is freed once a step has read it).
enum : uint8_t { OS_KEY_SEEN = 0, OS_KEY_NEW = 1, OS_KEY_TAPPED = 2 };
static uint8_t os_key_news[256]; // OS_KEY_* per key index; reset by each step's advance

int32_t os_key_from_vk(int32_t vk) {
    switch (vk) {
    case VK_LEFT:
        return KEY_LEFT;
    case VK_RIGHT:
        return KEY_RIGHT;
    case VK_UP:
        return KEY_UP;
    case VK_DOWN:
        return KEY_DOWN;
    case VK_DELETE:
        return KEY_DELETE;
    case VK_SHIFT:
        return KEY_SHIFT;
    case VK_CONTROL:
        return KEY_CTRL;
    default:
        break;
    }
    // F1..F9 count down from 255.
    if (vk >= VK_F1 && vk <= VK_F1 + 8) return KEY_F1 - (vk - VK_F1);
    return vk & 0xFF;
}

int32_t os_keypad_vk(int32_t vk, int32_t num_lock) {
    // The navigation keys printed under keypad 0..9.
    static constexpr int32_t navigation[10] = {VK_INSERT, VK_END,   VK_DOWN, VK_NEXT, VK_LEFT,
                                               VK_CLEAR,  VK_RIGHT, VK_HOME, VK_UP,   VK_PRIOR};
    if (num_lock) return vk;
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD0 + 9) return navigation[vk - VK_NUMPAD0];
    if (vk == VK_DECIMAL) return VK_DELETE;
    return vk;
}

int32_t os_set_key(int32_t index, int32_t down) {
    index &= 0xFF;
    // Lower-case codes (and the keypad and F10/F11, which share them) land on the upper-case letters.
    if (index >= 97 && index <= 122) index -= 32;
    if (down) {
        if (os_keys[index] == 0) {
            os_keys_held++;
            os_last_key = index;
            os_key_presses++;
            os_keys[index] = 1;
            os_key_news[index] = OS_KEY_NEW;
        } else if (os_key_news[index] == OS_KEY_TAPPED) {
            // Pressed again before a step saw the first tap: held once more, and a new typed key.
            os_last_key = index;
            os_key_presses++;
            os_key_news[index] = OS_KEY_NEW;
        }
        // Otherwise an auto-repeat press of a held key: its counter keeps running.
    } else if (os_keys[index] != 0) {
        if (os_keys[index] == 1 && os_key_news[index] == OS_KEY_NEW) {
            os_key_news[index] = OS_KEY_TAPPED;
        } else if (os_key_news[index] != OS_KEY_TAPPED) {
            os_keys_held--;
            os_keys[index] = 0;
        }
    }
    return index;
}

void os_advance_keys() {
    if (os_keys_held == 0) return;
    for (int32_t i = 0; i < 256; i++) {
        uint16_t& k = os_keys[i];
        const uint8_t news = os_key_news[i];
        os_key_news[i] = OS_KEY_SEEN;
        if (k == 0) continue;
        if (news == OS_KEY_TAPPED) {
            k = 0;
            os_keys_held--;
            continue;
        }
        // A counter that reaches 255 starts again at 1.
        k++;
        if (k >= 255) k = 1;
    }
}

void os_clear_keys() {
    memset(os_keys, 0, sizeof os_keys);
    memset(os_key_news, 0, sizeof os_key_news);
    os_keys_held = 0;
}

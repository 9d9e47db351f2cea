// Polled input state: the key-state table, the last new key press and the mouse. Written by the platform
// backend's event handling and read by the application, both on the main thread.
#include "os_platform.h"

uint16_t os_keys[256]; // per key index: 0 up, else steps since the press (cycling 1..254)
uint8_t os_keys_held;  // key indices recorded as held
int32_t os_last_key;   // key index of the most recent new press
int32_t os_mouse_x;    // pointer x in window pixels
int32_t os_mouse_y;    // pointer y in window pixels
int32_t os_mouse_down; // left button state

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

int32_t os_set_key(int32_t index, int32_t down) {
    index &= 0xFF;
    // Lower-case codes (and the keypad and F10/F11, which share them) land on the upper-case letters.
    if (index >= 97 && index <= 122) index -= 32;
    if (down) {
        // Auto-repeat presses of a held key change nothing: its counter keeps running.
        if (os_keys[index] == 0) {
            os_keys_held++;
            os_last_key = index;
            os_keys[index] = 1;
        }
    } else if (os_keys[index] != 0) {
        os_keys_held--;
        os_keys[index] = 0;
    }
    return index;
}

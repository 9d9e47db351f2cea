// The browser's key events as presses and releases of the key table: the physical key (KeyboardEvent.code) through
// the same virtual-key codes as the other backends, and which keys the tracker takes from the browser. Portable
// (no browser header), so that its tests run natively; on the page it runs on the main thread.
#include "platform_web.h"

#include "os_platform.h"

#include <cstring>

static uint8_t web_pressed_vk[256]; // per key as Num Lock on gives it, the virtual-key code its held press was given

int32_t web_key_event(const char* code, const char* key, int32_t alt_held, int32_t meta_held, int32_t down,
                      int32_t repeat) {
    const int32_t physical = os_vk_from_code(code);
    if (physical == 0) return 0;
    // The browser names what a keypad key does: a digit or the point with Num Lock on, "ArrowDown", "Delete" and
    // the like with it off.
    const int32_t num_lock = key && key[0] && !key[1];
    int32_t vk = os_keypad_vk(physical, num_lock);
    // The system's and the browser's own combinations (Alt+Left, Cmd+R) stay theirs; a release always counts, so
    // that a key pressed before Alt or Cmd does not stay down.
    if (down && (alt_held || meta_held)) return 0;
    if (down && repeat) return 1;
    uint8_t& pressed = web_pressed_vk[physical & 0xFF];
    if (down) {
        pressed = (uint8_t)vk;
    } else {
        if (pressed) vk = pressed;
        pressed = 0;
    }
    // F10 means nothing to the tracker (Windows gives it to the menu), but it is not the browser's either.
    if (vk != VK_F1 + 9) os_set_key(os_key_from_vk(vk), down ? 1 : 0);
    return 1;
}

void web_release_keys() {
    os_clear_keys();
    memset(web_pressed_vk, 0, sizeof web_pressed_vk);
}

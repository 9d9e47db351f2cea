// Physical keys by the names a browser gives them (KeyboardEvent.code) as the Windows virtual-key codes the key
// table is built on: the same keys the SDL2 backend reads from scancodes. Portable, constant; any thread.
#include "os_platform.h"

#include <cstring>

namespace {

struct os_code_vk {
    const char* code; // KeyboardEvent.code
    int32_t vk;       // virtual-key code
};

// Keys other than letters, digits and function keys. Punctuation as the VK_OEM codes of a US keyboard; Alt, Print
// Screen and the rest belong to the system and have no entry.
constexpr os_code_vk OS_CODE_VKS[] = {
    {"Enter", VK_RETURN},
    {"NumpadEnter", VK_RETURN},
    {"Escape", VK_ESCAPE},
    {"Backspace", VK_BACK},
    {"Tab", VK_TAB},
    {"Space", VK_SPACE},
    {"ArrowLeft", VK_LEFT},
    {"ArrowUp", VK_UP},
    {"ArrowRight", VK_RIGHT},
    {"ArrowDown", VK_DOWN},
    {"Delete", VK_DELETE},
    {"Insert", VK_INSERT},
    {"Home", VK_HOME},
    {"End", VK_END},
    {"PageUp", VK_PRIOR},
    {"PageDown", VK_NEXT},
    {"ShiftLeft", VK_SHIFT},
    {"ShiftRight", VK_SHIFT},
    {"ControlLeft", VK_CONTROL},
    {"ControlRight", VK_CONTROL},
    {"CapsLock", 20},
    {"Pause", 19},
    {"NumLock", 144},
    {"ScrollLock", 145},
    {"MetaLeft", 91},
    {"OSLeft", 91},
    {"MetaRight", 92},
    {"OSRight", 92},
    {"ContextMenu", 93},
    {"Numpad0", VK_NUMPAD0},
    {"NumpadMultiply", 106},
    {"NumpadAdd", 107},
    {"NumpadSubtract", 109},
    {"NumpadDecimal", VK_DECIMAL},
    {"NumpadDivide", 111},
    {"Semicolon", 186},
    {"Equal", 187},
    {"Comma", 188},
    {"Minus", 189},
    {"Period", 190},
    {"Slash", 191},
    {"Backquote", 192},
    {"BracketLeft", 219},
    {"Backslash", 220},
    {"BracketRight", 221},
    {"Quote", 222},
    {"IntlBackslash", 226},
};

// The number after prefix in code ("F" and "F12" give 12), -1 when code is not prefix and a number 0..99.
int32_t os_code_number(const char* code, const char* prefix) {
    const size_t n = strlen(prefix);
    if (strncmp(code, prefix, n) != 0) return -1;
    const char* digits = code + n;
    if (digits[0] < '0' || digits[0] > '9') return -1;
    if (digits[1] == 0) return digits[0] - '0';
    if (digits[1] < '0' || digits[1] > '9' || digits[2] != 0 || digits[0] == '0') return -1;
    return (digits[0] - '0') * 10 + digits[1] - '0';
}

} // namespace

int32_t os_vk_from_code(const char* code) {
    if (!code) return 0;
    if (strncmp(code, "Key", 3) == 0 && code[3] >= 'A' && code[3] <= 'Z' && code[4] == 0) return code[3];
    const int32_t digit = os_code_number(code, "Digit");
    if (digit >= 0 && digit <= 9) return '0' + digit;
    const int32_t f = os_code_number(code, "F");
    if (f >= 1 && f <= 12) return VK_F1 + f - 1;
    // Keypad digits as with Num Lock on; the backend reads them as navigation keys while it is off.
    const int32_t pad = os_code_number(code, "Numpad");
    if (pad >= 1 && pad <= 9) return VK_NUMPAD0 + pad;
    for (const os_code_vk& k : OS_CODE_VKS)
        if (strcmp(code, k.code) == 0) return k.vk;
    return 0;
}

// Song links: the fragment "#qvl=" followed by the module's bytes, compressed with raw DEFLATE and written in
// base64url without padding. The browser's page makes them with the share key, opens them, and keeps the song in
// its storage in the same form. Main thread; owns nothing.
#include "app.h"

#include "os_deflate.h"

#include <cstring>

std::string app_link_fragment(const uint8_t* module, int32_t size) {
    if (!module || size < 0) size = 0;
    const std::vector<uint8_t> packed = os_deflate(module, (size_t)size);
    return std::string(APP_LINK_MARK) + os_base64url(packed.data(), packed.size());
}

int app_link_module(const char* fragment, std::vector<uint8_t>* module) {
    module->clear();
    const size_t mark = strlen(APP_LINK_MARK);
    if (!fragment || strncmp(fragment, APP_LINK_MARK, mark) != 0) return 0;
    const char* text = fragment + mark;
    std::vector<uint8_t> packed;
    if (!os_from_base64url(text, strlen(text), &packed) ||
        !os_inflate(packed.data(), packed.size(), APP_LINK_MAX_BYTES, module) || module->empty()) {
        module->clear();
        return -1;
    }
    return 1;
}

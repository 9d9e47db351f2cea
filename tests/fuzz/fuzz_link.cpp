// Fuzz target: any bytes as what a song link carries. Read as base64url text and as a raw DEFLATE stream (neither
// may crash, hang or give more than the limit), what a stream gives read as a module as the page's LOAD reads it,
// and the bytes compressed: the compressor's stream must read back to exactly them.
#include "os_deflate.h"
#include "os_tools.h"
#include "sound.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern bool fuzz_assert_finding; // fuzz_platform.cpp

static snd_engine eng;                          // the engine the link's modules are read with
static constexpr size_t FUZZ_LIMIT = 512 << 10; // the page's limit on what a link may give

static void fuzz_check(bool ok, const char* what) {
    if (ok) return;
    fprintf(stderr, "fuzz_link: %s\n", what);
    abort();
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_assert_finding = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) return 0;
    std::vector<uint8_t> decoded;
    if (os_from_base64url((const char*)data, size, &decoded)) {
        fuzz_check(decoded.size() <= size * 3 / 4, "base64url gives three bytes for four characters");
        fuzz_check(os_base64url(decoded.data(), decoded.size()).size() <= size, "the text is as long again at most");
    }

    std::vector<uint8_t> module;
    if (os_inflate(data, size, FUZZ_LIMIT, &module)) {
        fuzz_check(module.size() <= FUZZ_LIMIT, "the limit holds");
        const int32_t allocs_before = os_alloc_count;
        snd_song song;
        memset(&song, 0, sizeof song);
        if (snd_read_module(&song, module.data(), (int32_t)module.size())) snd_repair_song(&song);
        snd_free_song(&eng, &song);
        fuzz_check(os_alloc_count == allocs_before, "every block of the song was freed");
    } else {
        fuzz_check(module.empty(), "a refused stream gives nothing");
    }

    const std::vector<uint8_t> packed = os_deflate(data, size);
    std::vector<uint8_t> back;
    fuzz_check(os_inflate(packed.data(), packed.size(), size, &back), "the compressor's stream reads back");
    fuzz_check(back.size() == size && (size == 0 || memcmp(back.data(), data, size) == 0), "to the same bytes");
    return 0;
}

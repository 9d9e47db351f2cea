// Saving 32-bit 0xAARRGGBB pixel buffers (a layer, the composite, the test window) as PNG files, for the
// artwork sheet and for tests that keep a picture of a failed screen. Alpha is dropped: the window shows none.
#pragma once
#include <cstdint>
#include <vector>

// Writes width x height pixels, each enlarged to a zoom x zoom square; 1 on success.
int png_write_argb(const char* path, const uint32_t* pixels, int32_t width, int32_t height, int32_t zoom = 1);
// The same pixels (no zoom) as the bytes of a PNG file; empty when they cannot be encoded.
std::vector<uint8_t> png_encode_argb(const uint32_t* pixels, int32_t width, int32_t height);

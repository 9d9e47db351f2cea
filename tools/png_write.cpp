// PNG output through stb_image_write (Debian's libstb-dev). Used by tools and tests, never by the program.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include "png_write.h"

#include <vector>

// Red, green and blue bytes of width x height pixels, each enlarged to a zoom x zoom square.
static std::vector<uint8_t> png_rgb(const uint32_t* pixels, int32_t width, int32_t height, int32_t zoom) {
    const int64_t out_w = (int64_t)width * zoom, out_h = (int64_t)height * zoom;
    std::vector<uint8_t> rgb((size_t)(out_w * out_h * 3));
    for (int64_t y = 0; y < out_h; y++)
        for (int64_t x = 0; x < out_w; x++) {
            const uint32_t p = pixels[(y / zoom) * width + x / zoom];
            uint8_t* o = &rgb[(size_t)((y * out_w + x) * 3)];
            o[0] = (uint8_t)(p >> 16);
            o[1] = (uint8_t)(p >> 8);
            o[2] = (uint8_t)p;
        }
    return rgb;
}

int png_write_argb(const char* path, const uint32_t* pixels, int32_t width, int32_t height, int32_t zoom) {
    if (!path || !pixels || width <= 0 || height <= 0 || zoom < 1) return 0;
    const int64_t out_w = (int64_t)width * zoom, out_h = (int64_t)height * zoom;
    if (out_w * out_h > (int64_t)1 << 28) return 0;
    const std::vector<uint8_t> rgb = png_rgb(pixels, width, height, zoom);
    return stbi_write_png(path, (int)out_w, (int)out_h, 3, rgb.data(), (int)(out_w * 3)) ? 1 : 0;
}

std::vector<uint8_t> png_encode_argb(const uint32_t* pixels, int32_t width, int32_t height) {
    std::vector<uint8_t> png;
    if (!pixels || width <= 0 || height <= 0 || (int64_t)width * height > (int64_t)1 << 28) return png;
    const std::vector<uint8_t> rgb = png_rgb(pixels, width, height, 1);
    auto append = [](void* context, void* data, int size) {
        auto* out = (std::vector<uint8_t>*)context;
        out->insert(out->end(), (const uint8_t*)data, (const uint8_t*)data + size);
    };
    if (!stbi_write_png_to_func(append, &png, width, height, 3, rgb.data(), width * 3)) png.clear();
    return png;
}

// Software rendering: image records, PCX decoding of the embedded pictures, horizontal enlargement, bitmap
// fonts over a glyph strip, and the three drawing primitives (rectangle fill, keyed or plain image, text).
// Main thread only. Owns the fill buffer; images and fonts belong to whoever holds their records.
#include "graph.h"
#include "os_tools.h"

#include <cstring>

const char g_font_char_set[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ\xC5\xC4\xD6"
                               "0123456789.+-#/_><:()";

static void* fill_buf;         // scratch row for g_fill_rect, from os_alloc; grows only
static int32_t fill_buf_bytes; // capacity of fill_buf in bytes

static constexpr int32_t PCX_HEADER = 128;            // run-length data starts here
static constexpr int32_t PCX_PALETTE = 768;           // 256 RGB entries at the end of the data
static constexpr int64_t PCX_MAX_PIXELS = 1 << 22;    // larger pictures are refused (4 Mpixel, 16 MB)
static constexpr int64_t IMAGE_MAX_BYTES = INT32_MAX; // os_alloc takes a 32-bit size
static constexpr uint32_t KEY_PIXEL = 0x00FF00FF;     // transparent magenta of a decoded picture

g_image g_create_image(int32_t width, int32_t height) {
    g_image image = {};
    const int64_t bytes = (int64_t)width * height * 4;
    OS_ASSERT(width > 0 && height > 0 && bytes <= IMAGE_MAX_BYTES);
    if (width <= 0 || height <= 0 || bytes > IMAGE_MAX_BYTES) return image;
    image.width = width;
    image.height = height;
    image.bytes_per_pixel = 4;
    image.pixels = (uint32_t*)os_alloc((int32_t)bytes);
    OS_ASSERT(image.pixels != nullptr);
    return image;
}

void g_free_image(g_image* image) {
    OS_ASSERT(image != nullptr);
    if (!image) return;
    OS_ASSERT(image->pixels != nullptr);
    if (!image->pixels) return;
    os_free(&image->pixels);
}

static uint16_t read_le16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }

g_image g_load_pcx(const uint8_t* data, int32_t size) {
    g_image image = {};
    OS_ASSERT(data != nullptr);
    OS_ASSERT(size > 0);
    // A header and a palette must both be there before anything is read.
    OS_ASSERT(size >= PCX_HEADER + PCX_PALETTE);
    if (!data || size < PCX_HEADER + PCX_PALETTE) return image;

    const bool accepted = data[0] == 10 && data[1] == 5 && data[65] == 1;
    OS_ASSERT(accepted);
    if (!accepted) return image;

    const int32_t width = read_le16(data + 8) + 1;
    const int32_t height = read_le16(data + 10) + 1;
    const int64_t total = (int64_t)width * height;
    OS_ASSERT(total <= PCX_MAX_PIXELS);
    if (total > PCX_MAX_PIXELS) return image;

    image = g_create_image(width, height);
    if (!image.pixels) return image;

    // The pixel stream ends before the palette and the marker byte in front of it, so a stream that is cut
    // short never decodes either of them as pixels.
    const uint8_t* palette = data + size - PCX_PALETTE;
    const int32_t stream_end = size - PCX_PALETTE - 1 > PCX_HEADER ? size - PCX_PALETTE - 1 : PCX_HEADER;
    int32_t in = PCX_HEADER;
    int32_t out = 0;
    while (out < total && in < stream_end) {
        const uint8_t b = data[in++];
        if (b < 192) {
            image.pixels[out++] = b;
            continue;
        }
        if (in >= stream_end) break; // a run byte without its value
        const uint32_t index = data[in++];
        int32_t count = b & 63;
        if (count > total - out) count = (int32_t)(total - out);
        for (int32_t i = 0; i < count; i++) image.pixels[out++] = index;
    }
    // A stream that ended early leaves the remaining pixels at palette index 0.
    OS_ASSERT(out == total);

    for (int64_t i = 0; i < total; i++) {
        const uint8_t* rgb = palette + image.pixels[i] * 3;
        if (rgb[0] == 255 && rgb[1] == 0 && rgb[2] == 255) {
            image.pixels[i] = KEY_PIXEL;
            image.color_key = 1;
        } else {
            image.pixels[i] = 0xFF000000u | ((uint32_t)rgb[0] << 16) | ((uint32_t)rgb[1] << 8) | rgb[2];
        }
    }
    return image;
}

g_image g_scale_image(int32_t factor, const g_image* source) {
    g_image image = {};
    OS_ASSERT(source != nullptr);
    OS_ASSERT(factor >= 1);
    if (!source || !source->pixels || factor < 1) return image;
    const int64_t width = (int64_t)source->width * factor;
    OS_ASSERT(width <= INT32_MAX);
    if (width > INT32_MAX) return image;
    image = g_create_image((int32_t)width, source->height);
    if (!image.pixels) return image;
    g_stretch_into(&image, source->width, source->height, source, factor);
    return image;
}

void g_stretch_into(g_image* dest, int32_t width, int32_t height, const g_image* source, int32_t factor) {
    OS_ASSERT(dest != nullptr);
    OS_ASSERT(source != nullptr && source->pixels != nullptr);
    OS_ASSERT(factor >= 1);
    if (!dest || !dest->pixels || !source || !source->pixels || factor < 1) return;
    OS_ASSERT(width <= source->width && width <= dest->width);
    OS_ASSERT(height <= source->height && height <= dest->height);
    OS_ASSERT((int64_t)width * factor <= dest->width);
    if (width < 0 || height < 0 || width > source->width || height > source->height) return;
    if (height > dest->height || (int64_t)width * factor > dest->width) return;

    dest->color_key = source->color_key;
    for (int32_t r = 0; r < height; r++) {
        const uint32_t* src = source->pixels + (int64_t)r * source->width;
        uint32_t* dst = dest->pixels + (int64_t)r * dest->width;
        for (int32_t c = 0; c < width; c++)
            for (int32_t k = 0; k < factor; k++) *dst++ = src[c];
    }
}

g_font g_create_font(g_image* image, int32_t cell_width) {
    g_font font = {};
    OS_ASSERT(image != nullptr);
    OS_ASSERT(cell_width > 0);
    OS_ASSERT(cell_width <= 255);
    if (cell_width <= 0 || cell_width > 255) return font;
    font.image = image;
    font.cell_width = (uint8_t)cell_width;
    font.cell_height = 10;
    font.advance = (int8_t)cell_width;
    font.glyphs = (int16_t*)os_alloc(255 * sizeof(int16_t));
    for (int32_t c = 0; c < 255; c++) font.glyphs[c] = -1;
    for (int32_t k = 0; g_font_char_set[k]; k++) {
        const uint8_t code = (uint8_t)g_font_char_set[k];
        if (code < 255) font.glyphs[code] = (int16_t)(k * cell_width);
    }
    return font;
}

void g_free_font(g_font* font) {
    OS_ASSERT(font != nullptr && font->glyphs != nullptr);
    if (!font || !font->glyphs) return;
    os_free(&font->glyphs);
}

void* os_get_fill_buf(int32_t size) {
    OS_ASSERT(size >= 0);
    if (size <= 0) size = 1;
    if (size > fill_buf_bytes) {
        if (fill_buf) os_free(&fill_buf);
        fill_buf_bytes = size;
        fill_buf = os_alloc(size);
        os_log("os_get_fill_buf alloc : %d bytes\n", size);
    }
    OS_ASSERT(fill_buf != nullptr);
    return fill_buf;
}

void os_free_fill_buf() {
    if (fill_buf) os_free(&fill_buf);
    fill_buf_bytes = 0;
}

void g_fill_rect(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour) {
    OS_ASSERT(g_target != nullptr);
    if (!g_target || !g_target->pixels) return;
    // 64-bit arithmetic, so that far-off coordinates cannot wrap around into the layer.
    int64_t x0 = x, y0 = y, w = width, h = height;
    if (y0 < 0) {
        h += y0;
        y0 = 0;
    }
    if (x0 < 0) {
        w += x0;
        x0 = 0;
    }
    if (y0 + h > g_target->height) h = g_target->height - y0;
    if (x0 + w > g_target->width) w = g_target->width - x0;
    if (h <= 0 || w <= 0) return;

    g_mark_dirty((int32_t)x0, (int32_t)y0, (int32_t)(x0 + w), (int32_t)(y0 + h));
    uint32_t* row = (uint32_t*)os_get_fill_buf((int32_t)(w * 4));
    for (int64_t i = 0; i < w; i++) row[i] = colour;
    for (int64_t r = y0; r < y0 + h; r++) memcpy(g_target->pixels + r * g_target->width + x0, row, (size_t)(w * 4));
}

void g_draw_image(const g_image* image, int32_t x, int32_t y, int32_t source_x, int32_t width, int32_t height) {
    OS_ASSERT(g_target != nullptr);
    OS_ASSERT(image != nullptr);
    if (!g_target || !g_target->pixels || !image || !image->pixels) return;
    const int64_t tw = g_target->width, th = g_target->height;
    int64_t dx = x, dy = y, sx = source_x, w = width, h = height;
    if (dx >= tw || dy >= th || dx + w < 0 || dy + h < 0) return;
    if (sx < 0) {
        dx -= sx;
        w += sx;
        sx = 0;
    }
    if (sx + w > image->width) w = image->width - sx;
    if (h > image->height) h = image->height;
    if (w <= 0 || h <= 0) return;

    g_mark_dirty((int32_t)dx, (int32_t)dy, (int32_t)(dx + w), (int32_t)(dy + h));

    if (image->color_key) {
        // Columns off the layer are skipped; within them a transparent pixel keeps what is there. A plain select
        // the compiler vectorises: glyph rows are runs of a few pixels, for which a copy per run costs more.
        const int64_t j0 = dx < 0 ? -dx : 0;
        const int64_t j1 = dx + w > tw ? tw - dx : w;
        for (int64_t i = 0; i < h; i++) {
            const int64_t ty = dy + i;
            if (ty < 0 || ty >= th) continue;
            const uint32_t* src = image->pixels + i * image->width + sx;
            uint32_t* dst = g_target->pixels + ty * tw + dx;
            for (int64_t j = j0; j < j1; j++) dst[j] = (src[j] >> 24) != 0 ? src[j] : dst[j];
        }
        return;
    }

    if (dx < 0) {
        sx -= dx;
        w += dx;
        dx = 0;
    }
    if (dx + w > tw) w = tw - dx;
    if (sx >= image->width || w <= 0) return;
    for (int64_t i = 0; i < h; i++) {
        const int64_t ty = dy + i;
        if (ty < 0 || ty >= th) continue;
        memcpy(g_target->pixels + ty * tw + dx, image->pixels + i * image->width + sx, (size_t)w * 4);
    }
}

void g_draw_text(const char* text, const g_font* font, int32_t x, int32_t y) {
    OS_ASSERT(font != nullptr);
    OS_ASSERT(text != nullptr);
    OS_ASSERT(font && font->image != nullptr);
    if (!font || !text || !font->image || !font->glyphs) return;
    int64_t pen_x = (int64_t)x + font->x_offset;
    const int64_t pen_y = (int64_t)y + font->y_offset;
    for (const char* p = text; *p; p++) {
        // Past the right edge nothing more can be drawn or marked; stopping keeps the pen from overflowing.
        if (g_target && font->advance > 0 && pen_x >= g_target->width) break;
        const uint8_t code = (uint8_t)*p;
        const int16_t cell = code < 255 ? font->glyphs[code] : (int16_t)-1;
        if (cell >= 0 && pen_x >= INT32_MIN && pen_x <= INT32_MAX && pen_y >= INT32_MIN && pen_y <= INT32_MAX)
            g_draw_image(font->image, (int32_t)pen_x, (int32_t)pen_y, cell, font->cell_width, font->cell_height);
        pen_x += font->advance;
    }
}

// Graphics: images and bitmap fonts, the five-layer 900 x 520 frame buffer with dirty rectangles and its
// composition, and the drawing primitives. Main thread only.
#pragma once
#include <cstdint>

constexpr int32_t G_WIDTH = 900;  // frame-buffer width
constexpr int32_t G_HEIGHT = 520; // frame-buffer height
constexpr int32_t G_LAYERS = 5;

// 32-bit 0xAARRGGBB pixels; alpha 0 transparent, 240..255 opaque.
struct g_image {
    int32_t width;
    int32_t height;
    uint8_t bytes_per_pixel; // always 4
    uint8_t color_key;       // 1: transparent pixels (alpha 0) are skipped when drawn
    uint32_t* pixels;        // width * height pixels from os_alloc, owned by the record's holder
};

struct g_font {
    g_image* image;      // glyph strip, not owned
    int16_t* glyphs;     // 255 entries: x of the glyph cell per character code, -1 for none; owned
    uint8_t cell_width;  // width of a glyph cell
    uint8_t cell_height; // rows of a glyph cell (10)
    int8_t advance;      // pen movement per character
    int8_t y_offset;     // added to the text's y
    int8_t x_offset;     // added to the text's x
};

struct g_rect {
    int32_t min_x, min_y, max_x, max_y; // half-open; empty is (65535, 65535, 0, 0)
};

struct g_display_info {
    int32_t width;         // frame-buffer width
    int32_t height;        // frame-buffer height
    int32_t window_width;  // client width of the window
    int32_t window_height; // client height of the window
    uint8_t initialised;   // 1 between g_init_display and g_deinit_display
};

extern const char g_font_char_set[]; // glyph order of a strip, 50 characters

extern g_display_info g_display;     // the display record
extern g_image g_layers[G_LAYERS];   // drawing layers, 0 at the bottom
extern uint8_t g_layer_on[G_LAYERS]; // layers taking part in composition
extern g_image* g_target;            // layer the primitives draw on
extern int32_t g_target_index;       // its index
extern g_rect g_dirty[G_LAYERS];     // per layer, the area drawn since the last flip
extern g_rect g_frame;               // union of the enabled layers' dirty areas at flip time
extern uint32_t* g_composite;        // composed frame, 900 x 520

// Display and frame (graph.cpp)
int32_t g_init_display();
void g_deinit_display();
void g_mark_dirty(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
void g_flip();
void os_compose();

// Images, fonts and primitives (render_sw.cpp)
g_image g_create_image(int32_t width, int32_t height);
void g_free_image(g_image* image);
g_image g_load_pcx(const uint8_t* data, int32_t size);
g_image g_scale_image(int32_t factor, const g_image* source);
void g_stretch_into(g_image* dest, int32_t width, int32_t height, const g_image* source, int32_t factor);
g_font g_create_font(g_image* image, int32_t cell_width);
void g_free_font(g_font* font);
void* os_get_fill_buf(int32_t size);
void os_free_fill_buf(); // at display shut-down
void g_fill_rect(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour);
void g_draw_image(const g_image* image, int32_t x, int32_t y, int32_t source_x, int32_t width, int32_t height);
void g_draw_text(const char* text, const g_font* font, int32_t x, int32_t y);

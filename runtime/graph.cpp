// The display: start-up and shut-down, the five drawing layers with their dirty rectangles, and the end of a
// frame, which merges the changed area of the enabled layers into the composite buffer and hands it to the
// platform to present. Main thread only. Owns the layers and the composite buffer.
#include "graph.h"
#include "os_platform.h"
#include "os_tools.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

g_display_info g_display;     // the display record; initialised between start-up and shut-down
g_image g_layers[G_LAYERS];   // drawing layers, 900 x 520 each, layer 0 at the bottom
uint8_t g_layer_on[G_LAYERS]; // 1 for the layers that take part in composition
g_image* g_target;            // layer the drawing primitives write to
int32_t g_target_index;       // index of that layer
g_rect g_dirty[G_LAYERS];     // per layer, the area drawn since the last flip
g_rect g_frame;               // union of the enabled layers' dirty areas, composed and presented by os_compose
uint32_t* g_composite;        // the composed frame, 900 x 520, from os_alloc
static uint16_t g_clear_lo[G_LAYERS][G_HEIGHT]; // per layer and row, the first column of a span last found fully
static uint16_t g_clear_hi[G_LAYERS][G_HEIGHT]; // transparent (and one past its last); drawing on the row forgets it

static constexpr g_rect EMPTY_RECT = {0xFFFF, 0xFFFF, 0, 0};

// Reads the alpha bytes of pixels s[x0..x1): *shown when any is above 0, *partial when any lies between 1 and 239
// (a pixel that blends). Over the pattern grid the interface layer is a transparent hole, so this runs over most
// of every presented row; four pixels at a time where SSE2 is there.
static void g_scan_alpha(const uint32_t* s, int32_t x0, int32_t x1, bool* shown, bool* partial) {
    uint32_t any = 0, blend = 0;
    int32_t x = x0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128(), opaque = _mm_set1_epi32(240);
    __m128i vany = zero, vblend = zero;
    for (; x + 4 <= x1; x += 4) {
        const __m128i a = _mm_srli_epi32(_mm_loadu_si128((const __m128i*)(s + x)), 24);
        vany = _mm_or_si128(vany, a);
        vblend = _mm_or_si128(vblend, _mm_and_si128(_mm_cmpgt_epi32(a, zero), _mm_cmplt_epi32(a, opaque)));
    }
    any = (uint32_t)_mm_movemask_epi8(_mm_cmpeq_epi32(vany, zero)) != 0xFFFF;
    blend = (uint32_t)_mm_movemask_epi8(vblend) != 0;
#endif
    for (; x < x1; x++) {
        blend |= (uint32_t)((s[x] >> 24) - 1u < 239u);
        any |= s[x] >> 24;
    }
    *shown = any != 0;
    *partial = blend != 0;
}

int32_t g_init_display() {
    os_log("g_init_display\n");
    OS_ASSERT(!g_display.initialised);
    // A second start-up would leak every buffer of the first.
    if (g_display.initialised) return 0;

    g_display.width = G_WIDTH;
    g_display.height = G_HEIGHT;
    g_display.window_width = G_WIDTH;
    g_display.window_height = G_HEIGHT;
    g_display.initialised = 1;
    g_frame = EMPTY_RECT;
    memset(g_clear_lo, 0, sizeof g_clear_lo);
    memset(g_clear_hi, 0, sizeof g_clear_hi);

    const int32_t window = os_init_window(&g_display);
    os_log("RENDER SW\n");

    for (int32_t i = 0; i < G_LAYERS; i++) {
        g_layers[i] = g_create_image(G_WIDTH, G_HEIGHT);
        g_layer_on[i] = 0;
        g_dirty[i] = {0, 0, G_WIDTH, G_HEIGHT};
        if (i == 0) g_composite = (uint32_t*)os_alloc(G_WIDTH * G_HEIGHT * 4);
    }
    g_layer_on[0] = 1;
    g_target = &g_layers[0];
    g_target_index = 0;

    os_log("g_init_display ok\n");
    return window;
}

void g_deinit_display() {
    os_log("g_deinit_display\n");
    OS_ASSERT(g_display.initialised);
    if (!g_display.initialised) return;

    os_free_fill_buf();
    for (int32_t i = 0; i < G_LAYERS; i++) g_free_image(&g_layers[i]);
    OS_ASSERT(g_composite != nullptr);
    if (g_composite) os_free(&g_composite);
    OS_ASSERT(os_alloc_count == 0);

    os_release_window();
    os_destroy_dib();
    g_display.initialised = 0;
}

void g_mark_dirty(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    int32_t lo_x = x0 < x1 ? x0 : x1, hi_x = x0 < x1 ? x1 : x0;
    int32_t lo_y = y0 < y1 ? y0 : y1, hi_y = y0 < y1 ? y1 : y0;
    OS_ASSERT(g_target_index >= 0 && g_target_index < G_LAYERS);
    if (g_target_index < 0 || g_target_index >= G_LAYERS) return;

    const int32_t w = g_target ? g_target->width : G_WIDTH;
    const int32_t h = g_target ? g_target->height : G_HEIGHT;
    auto clamp = [](int32_t v, int32_t hi) { return v < 0 ? 0 : v > hi ? hi : v; };
    lo_x = clamp(lo_x, w);
    hi_x = clamp(hi_x, w);
    lo_y = clamp(lo_y, h);
    hi_y = clamp(hi_y, h);
    // What is drawn on these rows may no longer be transparent.
    for (int32_t y = lo_y; y < hi_y && y < G_HEIGHT; y++)
        g_clear_lo[g_target_index][y] = g_clear_hi[g_target_index][y] = 0;

    g_rect& r = g_dirty[g_target_index];
    if (lo_x < r.min_x) r.min_x = lo_x;
    if (hi_x > r.max_x) r.max_x = hi_x;
    if (lo_y < r.min_y) r.min_y = lo_y;
    if (hi_y > r.max_y) r.max_y = hi_y;
}

void g_flip() {
    for (int32_t i = 0; i < G_LAYERS; i++) {
        if (g_layer_on[i]) {
            const g_rect& r = g_dirty[i];
            if (r.min_x < g_frame.min_x) g_frame.min_x = r.min_x;
            if (r.min_y < g_frame.min_y) g_frame.min_y = r.min_y;
            if (r.max_x > g_frame.max_x) g_frame.max_x = r.max_x;
            if (r.max_y > g_frame.max_y) g_frame.max_y = r.max_y;
        }
        g_dirty[i] = EMPTY_RECT;
    }
    os_compose();
}

// One upper-layer pixel over the composite: 0 keeps, 240 and above replaces, anything between blends with
// single-precision factors and truncation.
static uint32_t blend(uint32_t d, uint32_t s) {
    const uint32_t a = s >> 24;
    if (a == 0) return d;
    if (a >= 240) return s;
    const float f = (float)a / 255.0f;
    const float g = 1.0f - f;
    uint32_t out = 0xFF000000u;
    for (int shift = 0; shift <= 16; shift += 8) {
        const float dc = (float)((d >> shift) & 0xFF);
        const float sc = (float)((s >> shift) & 0xFF);
        const float dg = dc * g;
        const float sf = sc * f;
        out |= (uint32_t)(dg + sf) << shift;
    }
    return out;
}

void os_compose() {
    if (g_frame.min_x < g_frame.max_x && g_frame.min_y < g_frame.max_y && g_composite) {
        // The rectangles are clamped when marked; clamping again keeps a stray value from reaching memory.
        const int32_t x0 = g_frame.min_x < 0 ? 0 : g_frame.min_x;
        const int32_t y0 = g_frame.min_y < 0 ? 0 : g_frame.min_y;
        const int32_t x1 = g_frame.max_x > G_WIDTH ? G_WIDTH : g_frame.max_x;
        const int32_t y1 = g_frame.max_y > G_HEIGHT ? G_HEIGHT : g_frame.max_y;
        bool first = true;
        for (int32_t i = 0; i < G_LAYERS; i++) {
            if (!g_layer_on[i] || !g_layers[i].pixels) continue;
            const uint32_t* src = g_layers[i].pixels;
            if (first) {
                // Outside the changed area the composite still holds the last composed frame.
                for (int32_t y = y0; y < y1; y++)
                    memcpy(g_composite + y * G_WIDTH + x0, src + y * G_WIDTH + x0, (size_t)(x1 - x0) * 4);
                first = false;
                continue;
            }
            for (int32_t y = y0; y < y1; y++) {
                uint32_t* d = g_composite + y * G_WIDTH;
                const uint32_t* s = src + y * G_WIDTH;
                // A row found fully transparent over these columns, and not drawn on since, is passed over
                // unread: the interface layer's hole over the pattern grid, which scrolls while a song plays.
                if (g_clear_lo[i][y] <= x0 && x1 <= g_clear_hi[i][y]) continue;
                // Interface layers are almost always fully transparent or opaque: such a row is a plain select;
                // rows with a partly transparent pixel take the blend.
                bool shown = false, partial = false;
                g_scan_alpha(s, x0, x1, &shown, &partial);
                if (!shown) {
                    // A fully transparent row leaves the composite as it is.
                    g_clear_lo[i][y] = (uint16_t)x0;
                    g_clear_hi[i][y] = (uint16_t)x1;
                    continue;
                }
                if (partial) {
                    for (int32_t x = x0; x < x1; x++) d[x] = blend(d[x], s[x]);
                } else {
                    for (int32_t x = x0; x < x1; x++) d[x] = (s[x] >> 24) >= 240 ? s[x] : d[x];
                }
            }
        }
        os_present(G_WIDTH, G_HEIGHT);
    }
    g_frame = EMPTY_RECT;
}

// Artwork sheet: decodes the two embedded pictures exactly as the tracker does, draws the title and the full
// character set in all three fonts on the tracker's own colours, and saves the composed frame as a PNG, so the
// artwork can be looked at without running the program.
//
//   quavlo-artwork [<out.png> [<zoom> [<x> <y> <width> <height>]]]
// writes the whole 900 x 520 sheet (default artwork.png, zoom 1), or only the given area of it, each pixel
// enlarged to a zoom x zoom square.
#include "graph.h"
#include "os_platform.h"
#include "os_tools.h"
#include "pictures.h"
#include "png_write.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

// An off-screen platform: the sheet is taken from the composite buffer, so there is no window to show it in.
int32_t os_init_window(g_display_info*) { return 1; }
void os_create_dib(int32_t, int32_t) {}
void os_destroy_dib() {}
void os_release_window() {}
void os_present(int32_t, int32_t) {}

static const char SAMPLE[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ \xC5\xC4\xD6 0123456789.+-#/_><:()";

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "artwork.png";
    const int32_t zoom = argc > 2 ? atoi(argv[2]) : 1;
    int32_t area[4] = {0, 0, G_WIDTH, G_HEIGHT}; // x, y, width, height
    if (argc > 6)
        for (int i = 0; i < 4; i++) area[i] = atoi(argv[3 + i]);
    if (area[0] < 0 || area[1] < 0 || area[2] < 1 || area[3] < 1 || area[0] + area[2] > G_WIDTH ||
        area[1] + area[3] > G_HEIGHT) {
        fprintf(stderr, "quavlo-artwork: the area must lie within 900 x 520\n");
        return 2;
    }

    g_init_display();
    g_image logo = g_load_pcx(quavlo_title_pcx, quavlo_title_pcx_size);
    g_image strip = g_load_pcx(quavlo_glyphs_pcx, quavlo_glyphs_pcx_size);
    g_image strip_2x = g_scale_image(2, &strip);
    g_image strip_1x = g_scale_image(1, &strip);
    g_font large = g_create_font(&strip_2x, 16);
    g_font large2 = g_create_font(&strip_2x, 16);
    g_font small = g_create_font(&strip_1x, 8);

    g_fill_rect(0, 0, G_WIDTH, G_HEIGHT, 0xFF0000FF);
    g_draw_image(&logo, (G_WIDTH - logo.width) / 2, 5, 0, logo.width, logo.height);

    // The character set in each font, on the interface background.
    int32_t y = 66;
    g_draw_text(SAMPLE, &large, 34, y);
    g_draw_text(SAMPLE, &large2, 34, y + 16);
    g_draw_text(SAMPLE, &small, 34, y + 32);

    // The same on every background the tracker draws text on: pattern rows, beat rows, played row, muted
    // channel, selection, cursor, buttons, order list.
    static const uint32_t backgrounds[] = {0xFF000096, 0xFF00005A, 0xFF500078, 0xFF6464C8, 0xFFFFFF00, 0xFF141414,
                                           0xFFC8C8C8, 0xFF8C8C8C, 0xFFFF0000, 0xFF640000, 0xFF000064, 0xFF6400FF};
    y = 122;
    for (uint32_t colour : backgrounds) {
        g_fill_rect(10, y, 880, 15, colour);
        g_draw_text("C#4 3 40 0F 20 --- 0O 1I 5S 8B 2Z", &large, 14, y + 2);
        g_draw_text("OCTAVE:4 PATTERN:0/0 0O 1I 5S 8B", &small, 626, y + 2);
        y += 16;
    }

    // A tracker screen's worth of text at the sizes it is used.
    y += 6;
    g_draw_text("SAMPLE:1/7 (F1/F2) OCTAVE:4 (F3/F4) CHANNELS:F5-F8 PATTERN:0/0 (CTRL-F1/F2-F3 NEW-F4 DEL)", &small, 10,
                y);
    g_draw_text("SONG PTR: 0/0 (CTRL-A ADD)(CTRL-ARROWS)(CTRL-D DEL)", &small, 10, y + 10);
    g_draw_text("NEW LOAD SAVE WAV STOP", &large, 10, y + 26);
    g_draw_text("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 3F", &small, 10, y + 42);

    g_flip();
    std::vector<uint32_t> part((size_t)area[2] * area[3]);
    for (int32_t r = 0; r < area[3]; r++)
        for (int32_t c = 0; c < area[2]; c++)
            part[(size_t)r * area[2] + c] = g_composite[(area[1] + r) * G_WIDTH + area[0] + c];
    const int ok = png_write_argb(path, part.data(), area[2], area[3], zoom < 1 ? 1 : zoom);

    g_free_font(&large);
    g_free_font(&large2);
    g_free_font(&small);
    g_free_image(&strip_2x);
    g_free_image(&strip_1x);
    g_free_image(&strip);
    g_free_image(&logo);
    g_deinit_display();
    if (!ok) {
        fprintf(stderr, "quavlo-artwork: cannot write %s\n", path);
        return 1;
    }
    fprintf(stderr, "quavlo-artwork: wrote %s\n", path);
    return 0;
}

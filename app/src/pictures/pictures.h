// The two pictures built into the program: the title lettering (512 x 50) and the font's glyph strip
// (420 x 10), as the bytes of their PCX files. The build generates their definitions from the committed .pcx files.
#pragma once
#include <cstdint>

extern const uint8_t quavlo_title_pcx[];
extern const int32_t quavlo_title_pcx_size;
extern const uint8_t quavlo_glyphs_pcx[];
extern const int32_t quavlo_glyphs_pcx_size;

// Picture generator: draws the glyph strip and the title picture from their readable sources (glyphs.txt,
// title.txt) and writes them as run-length encoded 8-bit PCX files, the form the program carries them in; and
// draws the desktop icon from the same glyphs, as PNG files for the Linux desktop and as one .ico for Windows.
// The output depends on nothing but the sources, so running it again gives the same bytes.
//
//   quavlo-make-pictures <source dir> [<output dir>]          writes glyphs.pcx and title.pcx
//   quavlo-make-pictures --check <source dir> <pcx dir>       exit 1 unless the files there match the sources
//   quavlo-make-pictures --icons <source dir> <output dir>    writes the desktop icon, quavlo-32.png to -256.png
//   quavlo-make-pictures --ico <source dir> <file.ico>        writes the icon at every size Windows shows
#include "png_write.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int CELL_W = 8;         // glyph cell width in the strip
constexpr int CELL_H = 10;        // glyph cell height
constexpr int STROKE_COLUMNS = 7; // strokes and shading stay left of the cell's last column
constexpr int STRIP_TAIL = 20;    // transparent columns after the last cell
constexpr char CHAR_SET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ\xC5\xC4\xD6"
                            "0123456789.+-#/_><:()";
constexpr int GLYPH_COUNT = sizeof CHAR_SET - 1;

// Palette indices of the three colours; index 0 is the transparent one, so anything left unset is transparent.
enum : uint8_t { MAGENTA = 0, BLACK = 1, WHITE = 2 };

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> index; // palette index per pixel, rows from the top
    uint8_t& at(int x, int y) { return index[(size_t)y * width + x]; }
};

struct Glyph {
    uint8_t code = 0;
    bool stroke[CELL_H][CELL_W] = {};
};

[[noreturn]] void fail(const std::string& message) {
    fprintf(stderr, "quavlo-make-pictures: %s\n", message.c_str());
    exit(2);
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read " + path);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

std::vector<Glyph> parse_glyphs(const std::string& path) {
    std::istringstream in(read_text(path));
    std::vector<Glyph> glyphs;
    std::string line;
    int row = CELL_H, line_no = 0;
    while (std::getline(in, line)) {
        line_no++;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string where = path + ":" + std::to_string(line_no) + ": ";
        // Comments are "#" or "# text"; pixel rows never contain a space.
        const bool comment = !line.empty() && line[0] == '#' && (line.size() == 1 || line[1] == ' ');
        if (line.empty() || comment) {
            if (row < CELL_H) fail(where + "cell ends after " + std::to_string(row) + " rows");
            continue;
        }
        if (line[0] == '[') {
            if (row < CELL_H) fail(where + "cell ends after " + std::to_string(row) + " rows");
            const size_t close = line.find(']');
            if (close == std::string::npos || close < 2) fail(where + "bad cell header");
            const std::string name = line.substr(1, close - 1);
            Glyph g;
            if (name.size() >= 4 && name.compare(0, 2, "0x") == 0)
                g.code = (uint8_t)std::stoul(name.substr(2, 2), nullptr, 16);
            else if (name.size() == 1)
                g.code = (uint8_t)name[0];
            else
                fail(where + "bad cell header");
            glyphs.push_back(g);
            row = 0;
            continue;
        }
        if (row >= CELL_H) fail(where + "pixel row outside a cell");
        if ((int)line.size() != CELL_W) fail(where + "a pixel row has 8 characters");
        for (int x = 0; x < CELL_W; x++) {
            if (line[x] != '#' && line[x] != '.') fail(where + "unknown pixel character");
            if (line[x] == '#' && x >= STROKE_COLUMNS) fail(where + "stroke in the spacing column");
            glyphs.back().stroke[row][x] = line[x] == '#';
        }
        row++;
    }
    if (row < CELL_H) fail(path + ": last cell is incomplete");
    if ((int)glyphs.size() != GLYPH_COUNT) fail(path + ": expected 50 cells");
    for (int k = 0; k < GLYPH_COUNT; k++)
        if (glyphs[k].code != (uint8_t)CHAR_SET[k]) fail(path + ": cell " + std::to_string(k) + " is out of order");
    return glyphs;
}

// White strokes; black where a stroke casts its shadow (straight down and down-right) onto empty pixels.
Picture draw_strip(const std::vector<Glyph>& glyphs) {
    Picture p;
    p.width = GLYPH_COUNT * CELL_W + STRIP_TAIL;
    p.height = CELL_H;
    p.index.assign((size_t)p.width * p.height, MAGENTA);
    for (int k = 0; k < GLYPH_COUNT; k++) {
        const Glyph& g = glyphs[k];
        for (int y = 0; y < CELL_H; y++)
            for (int x = 0; x < STROKE_COLUMNS; x++) {
                const bool above = y > 0 && g.stroke[y - 1][x];
                const bool above_left = y > 0 && x > 0 && g.stroke[y - 1][x - 1];
                uint8_t& px = p.at(k * CELL_W + x, y);
                if (g.stroke[y][x])
                    px = WHITE;
                else if (above || above_left)
                    px = BLACK;
            }
    }
    return p;
}

struct TitleSpec {
    int width = 0, height = 0;
    std::string text;
    int block_w = 1, block_h = 1, spacing = 1, outline = 1;
};

TitleSpec parse_title(const std::string& path) {
    std::istringstream in(read_text(path));
    TitleSpec t;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "size")
            words >> t.width >> t.height;
        else if (key == "text")
            words >> t.text;
        else if (key == "block")
            words >> t.block_w >> t.block_h;
        else if (key == "spacing")
            words >> t.spacing;
        else if (key == "outline")
            words >> t.outline;
        else
            fail(path + ": unknown setting " + key);
        if (words.fail()) fail(path + ": bad value for " + key);
    }
    if (t.width <= 0 || t.height <= 0 || t.width > 4096 || t.height > 4096) fail(path + ": bad size");
    if (t.text.empty() || t.block_w < 1 || t.block_h < 1 || t.spacing < 0 || t.outline < 0)
        fail(path + ": incomplete title");
    return t;
}

// The lettering: each letter as wide as its strokes, letters `spacing` glyph pixels apart, every glyph pixel a
// block, a round black outline around the whole, the result centred.
Picture draw_title(const TitleSpec& t, const std::vector<Glyph>& glyphs) {
    std::vector<std::vector<bool>> mask(CELL_H); // the lettering at glyph-pixel resolution
    int top = CELL_H, bottom = -1;
    for (size_t i = 0; i < t.text.size(); i++) {
        const Glyph* g = nullptr;
        for (const Glyph& cand : glyphs)
            if (cand.code == (uint8_t)t.text[i]) g = &cand;
        if (!g) fail(std::string("no glyph for title character ") + t.text[i]);
        int first = STROKE_COLUMNS, last = -1;
        for (int y = 0; y < CELL_H; y++)
            for (int x = 0; x < STROKE_COLUMNS; x++)
                if (g->stroke[y][x]) {
                    first = std::min(first, x);
                    last = std::max(last, x);
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
        if (last < 0) fail("title character without strokes");
        if (i > 0)
            for (auto& row : mask) row.insert(row.end(), (size_t)t.spacing, false);
        for (int y = 0; y < CELL_H; y++)
            for (int x = first; x <= last; x++) mask[y].push_back(g->stroke[y][x]);
    }
    const int mask_w = (int)mask[0].size();
    const int letters_w = mask_w * t.block_w, letters_h = (bottom - top + 1) * t.block_h;
    if (letters_w + 2 * t.outline > t.width || letters_h + 2 * t.outline > t.height)
        fail("the title lettering does not fit its picture");

    Picture p;
    p.width = t.width;
    p.height = t.height;
    p.index.assign((size_t)p.width * p.height, MAGENTA);
    const int x0 = (t.width - letters_w) / 2, y0 = (t.height - letters_h) / 2;
    for (int y = top; y <= bottom; y++)
        for (int x = 0; x < mask_w; x++) {
            if (!mask[y][x]) continue;
            for (int by = 0; by < t.block_h; by++)
                for (int bx = 0; bx < t.block_w; bx++)
                    p.at(x0 + x * t.block_w + bx, y0 + (y - top) * t.block_h + by) = WHITE;
        }
    const int r = t.outline;
    Picture out = p;
    for (int y = 0; y < p.height; y++)
        for (int x = 0; x < p.width; x++) {
            if (p.at(x, y) != WHITE) continue;
            for (int dy = -r; dy <= r; dy++)
                for (int dx = -r; dx <= r; dx++) {
                    const int nx = x + dx, ny = y + dy;
                    if (dx * dx + dy * dy > r * r + r || nx < 0 || ny < 0 || nx >= p.width || ny >= p.height) continue;
                    if (out.at(nx, ny) == MAGENTA) out.at(nx, ny) = BLACK;
                }
        }
    return out;
}

// The desktop icon, 32 x 32: the tracker in small on its blue ground: a pattern grid with the played rows in
// purple and the cursor in yellow, and the glyph Q in front, enlarged twice with the strip's shadow and a black
// outline. 0xRRGGBB pixels, rows from the top.
constexpr int ICON = 32;
std::vector<uint32_t> draw_icon(const std::vector<Glyph>& glyphs) {
    constexpr uint32_t BLUE = 0x0000FF, NAVY = 0x000060, PURPLE = 0x600080, LINE = 0x8080FF, YELLOW = 0xFFFF00;
    std::vector<uint32_t> px((size_t)ICON * ICON, BLUE);
    auto fill = [&](int x0, int y0, int w, int h, uint32_t c) {
        for (int y = y0; y < y0 + h; y++)
            for (int x = x0; x < x0 + w; x++) px[(size_t)y * ICON + x] = c;
    };
    fill(0, 0, ICON, 1, NAVY);
    fill(0, ICON - 1, ICON, 1, NAVY);
    fill(0, 0, 1, ICON, NAVY);
    fill(ICON - 1, 0, 1, ICON, NAVY);
    fill(12, 3, 17, 26, NAVY);
    for (int row = 0; row < 8; row++) {
        const int y = 4 + row * 3;
        if (row % 4 == 0) fill(13, y, 15, 2, PURPLE);
        fill(14, y + 1, 2, 1, LINE);
        fill(18, y + 1, 1, 1, LINE);
        fill(21, y + 1, 2, 1, LINE);
        fill(25, y + 1, 2, 1, LINE);
    }
    fill(20, 19, 4, 2, YELLOW);

    const Glyph* q = nullptr;
    for (const Glyph& g : glyphs)
        if (g.code == 'Q') q = &g;
    if (!q) fail("no glyph for the icon's Q");
    // The glyph as drawn in the strip (white strokes, black shadow), each pixel a 2 x 2 block, at (2, 5).
    uint8_t cell[CELL_H][CELL_W] = {};
    for (int y = 0; y < CELL_H; y++)
        for (int x = 0; x < STROKE_COLUMNS; x++) {
            if (q->stroke[y][x])
                cell[y][x] = WHITE;
            else if ((y > 0 && q->stroke[y - 1][x]) || (y > 0 && x > 0 && q->stroke[y - 1][x - 1]))
                cell[y][x] = BLACK;
        }
    constexpr int QX = 2, QY = 5;
    for (int y = 0; y < CELL_H * 2; y++)
        for (int x = 0; x < CELL_W * 2; x++) {
            const uint8_t c = cell[y / 2][x / 2];
            const bool near_stroke = [&] {
                for (int dy = -1; dy <= 1; dy++)
                    for (int dx = -1; dx <= 1; dx++) {
                        const int gy = (y + dy) / 2, gx = (x + dx) / 2;
                        if (y + dy >= 0 && x + dx >= 0 && gy < CELL_H && gx < CELL_W && q->stroke[gy][gx]) return true;
                    }
                return false;
            }();
            if (c == WHITE)
                px[(size_t)(QY + y) * ICON + QX + x] = 0xFFFFFF;
            else if (c == BLACK || near_stroke)
                px[(size_t)(QY + y) * ICON + QX + x] = 0x000000;
        }
    return px;
}

void put16(std::vector<uint8_t>& b, size_t at, int v) {
    b[at] = (uint8_t)(v & 0xFF);
    b[at + 1] = (uint8_t)((v >> 8) & 0xFF);
}

// The icon at size x size: each output pixel the average of the 32 x 32 drawing's pixels under it, weighted by the
// area they cover, so whole multiples keep every drawn pixel a sharp square and the smaller sizes stay legible.
std::vector<uint32_t> resample_icon(const std::vector<uint32_t>& icon, int size) {
    std::vector<uint32_t> out((size_t)size * size);
    // In units of 1 / (ICON * size): source pixel i spans [i * size, (i + 1) * size), output pixel o spans
    // [o * ICON, (o + 1) * ICON).
    auto overlap = [&](int o, int i) {
        const int lo = std::max(o * ICON, i * size), hi = std::min((o + 1) * ICON, (i + 1) * size);
        return hi > lo ? hi - lo : 0;
    };
    for (int oy = 0; oy < size; oy++)
        for (int ox = 0; ox < size; ox++) {
            uint64_t sum[3] = {0, 0, 0};
            for (int iy = oy * ICON / size; iy < ICON && iy * size < (oy + 1) * ICON; iy++)
                for (int ix = ox * ICON / size; ix < ICON && ix * size < (ox + 1) * ICON; ix++) {
                    const uint64_t w = (uint64_t)overlap(oy, iy) * (uint64_t)overlap(ox, ix);
                    const uint32_t p = icon[(size_t)iy * ICON + ix];
                    for (int c = 0; c < 3; c++) sum[c] += w * ((p >> (16 - 8 * c)) & 0xFF);
                }
            const uint64_t total = (uint64_t)ICON * ICON, half = total / 2;
            out[(size_t)oy * size + ox] =
                (uint32_t)((sum[0] + half) / total << 16 | (sum[1] + half) / total << 8 | (sum[2] + half) / total);
        }
    return out;
}

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + i] = (uint8_t)(v >> (8 * i));
}

// A Windows icon file holding the icon at every size the shell and the window's title bar ask for. Sizes below 64
// are 32-bit device-independent bitmaps (the form every reader knows), the larger ones PNG, as Windows stores them.
constexpr int ICO_SIZES[] = {16, 24, 32, 48, 64, 128, 256};
std::vector<uint8_t> encode_ico(const std::vector<uint32_t>& icon) {
    constexpr size_t DIR = 6, ENTRY = 16, INFO = 40;
    constexpr size_t count = std::size(ICO_SIZES);
    std::vector<uint8_t> b(DIR + ENTRY * count, 0);
    put16(b, 2, 1); // type: icon
    put16(b, 4, (int)count);
    for (size_t n = 0; n < count; n++) {
        const int size = ICO_SIZES[n];
        const std::vector<uint32_t> px = resample_icon(icon, size);
        std::vector<uint8_t> image;
        if (size >= 64) {
            image = png_encode_argb(px.data(), size, size);
            if (image.empty()) fail("cannot encode the icon as PNG");
        } else {
            // Rows bottom-up, blue-green-red-alpha, then the transparency mask (1 bit a pixel, rows padded to 32
            // bits), all clear: the icon is opaque. The header counts the colour rows and the mask rows.
            const size_t mask_row = (size_t)((size + 31) / 32) * 4;
            image.assign(INFO + (size_t)size * size * 4 + mask_row * size, 0);
            put32(image, 0, INFO);
            put32(image, 4, (uint32_t)size);
            put32(image, 8, (uint32_t)size * 2);
            put16(image, 12, 1);  // planes
            put16(image, 14, 32); // bits per pixel
            put32(image, 20, (uint32_t)(image.size() - INFO));
            for (int y = 0; y < size; y++)
                for (int x = 0; x < size; x++)
                    put32(image, INFO + ((size_t)(size - 1 - y) * size + x) * 4,
                          0xFF000000u | px[(size_t)y * size + x]);
        }
        const size_t entry = DIR + ENTRY * n;
        b[entry] = (uint8_t)(size & 0xFF); // 256 is written as 0
        b[entry + 1] = (uint8_t)(size & 0xFF);
        put16(b, entry + 4, 1);  // planes
        put16(b, entry + 6, 32); // bits per pixel
        put32(b, entry + 8, (uint32_t)image.size());
        put32(b, entry + 12, (uint32_t)b.size());
        b.insert(b.end(), image.begin(), image.end());
    }
    return b;
}

// PCX version 5: one 8-bit plane, runs of at most 63 that never cross a row, then the 256-entry palette.
std::vector<uint8_t> encode_pcx(const Picture& p) {
    std::vector<uint8_t> b(128, 0);
    b[0] = 10; // manufacturer
    b[1] = 5;  // version
    b[2] = 1;  // run-length encoding
    b[3] = 8;  // bits per pixel
    put16(b, 8, p.width - 1);
    put16(b, 10, p.height - 1);
    put16(b, 12, 72); // dots per inch
    put16(b, 14, 72);
    b[65] = 1; // planes
    put16(b, 66, p.width);
    put16(b, 68, 1); // palette holds colours
    for (int y = 0; y < p.height; y++) {
        int x = 0;
        while (x < p.width) {
            const uint8_t v = p.index[(size_t)y * p.width + x];
            int run = 1;
            while (x + run < p.width && run < 63 && p.index[(size_t)y * p.width + x + run] == v) run++;
            if (run == 1 && v < 192) {
                b.push_back(v);
            } else {
                b.push_back((uint8_t)(0xC0 | run));
                b.push_back(v);
            }
            x += run;
        }
    }
    b.push_back(12); // palette marker
    std::vector<uint8_t> palette(768, 0);
    const uint8_t colours[3][3] = {{255, 0, 255}, {0, 0, 0}, {255, 255, 255}}; // MAGENTA, BLACK, WHITE
    for (int i = 0; i < 3; i++)
        for (int c = 0; c < 3; c++) palette[i * 3 + c] = colours[i][c];
    b.insert(b.end(), palette.begin(), palette.end());
    return b;
}

bool same_as_file(const std::vector<uint8_t>& bytes, const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return file == bytes;
}

void write_file(const std::vector<uint8_t>& bytes, const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write((const char*)bytes.data(), (std::streamsize)bytes.size());
    if (!out) fail("cannot write " + path);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--icons") {
        // The desktop icon at each size the desktop asks for, every pixel of the 32 x 32 drawing a square.
        if (args.size() != 3) {
            fprintf(stderr, "usage: quavlo-make-pictures --icons <source dir> <output dir>\n");
            return 2;
        }
        const std::vector<uint32_t> icon = draw_icon(parse_glyphs(args[1] + "/glyphs.txt"));
        for (int zoom : {1, 2, 4, 8}) {
            const std::string size = std::to_string(ICON * zoom);
            const std::string path = args[2] + "/quavlo-" + size + ".png";
            if (!png_write_argb(path.c_str(), icon.data(), ICON, ICON, zoom)) fail("cannot write " + path);
        }
        return 0;
    }
    if (!args.empty() && args[0] == "--ico") {
        if (args.size() != 3) {
            fprintf(stderr, "usage: quavlo-make-pictures --ico <source dir> <file.ico>\n");
            return 2;
        }
        write_file(encode_ico(draw_icon(parse_glyphs(args[1] + "/glyphs.txt"))), args[2]);
        return 0;
    }
    const bool check = !args.empty() && args[0] == "--check";
    if (check) args.erase(args.begin());
    if (args.empty() || args.size() > 2 || (check && args.size() != 2)) {
        fprintf(stderr, "usage: quavlo-make-pictures [--check] <source dir> [<output dir>]\n");
        return 2;
    }
    const std::string source = args[0];
    const std::string output = args.size() > 1 ? args[1] : source;

    const std::vector<Glyph> glyphs = parse_glyphs(source + "/glyphs.txt");
    const std::vector<uint8_t> strip = encode_pcx(draw_strip(glyphs));
    const std::vector<uint8_t> title = encode_pcx(draw_title(parse_title(source + "/title.txt"), glyphs));

    if (check) {
        int differ = 0;
        for (const auto& [bytes, name] : {std::pair{&strip, "glyphs.pcx"}, std::pair{&title, "title.pcx"}})
            if (!same_as_file(*bytes, output + "/" + name)) {
                fprintf(stderr, "%s/%s differs from what its source gives\n", output.c_str(), name);
                differ = 1;
            }
        return differ;
    }
    write_file(strip, output + "/glyphs.pcx");
    write_file(title, output + "/title.pcx");
    printf("glyphs.pcx %zu bytes, title.pcx %zu bytes\n", strip.size(), title.size());
    return 0;
}

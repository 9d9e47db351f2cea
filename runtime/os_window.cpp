// Window scale: the whole-number enlargement at which the 900 x 520 frame is shown, the rule that picks one to fit
// the display, and the mapping of window positions back to frame pixels. Main thread; the entry point sets the
// request before the frame loop starts and the platform backend applies it when it creates the window.
#include "graph.h"
#include "os_platform.h"

int32_t os_window_scale; // requested scale 1..OS_MAX_SCALE, 0 = the largest that fits the display

int32_t os_parse_scale(const char* text) {
    if (!text) return 0;
    // One digit and nothing else: "2", not "2x", " 2" or "02".
    if (text[0] < '1' || text[0] > '0' + OS_MAX_SCALE || text[1] != 0) return 0;
    return text[0] - '0';
}

int32_t os_fit_scale(int32_t usable_width, int32_t usable_height) {
    int32_t scale = 1;
    for (int32_t s = 2; s <= OS_MAX_SCALE; s++) {
        if (G_WIDTH * s + OS_PANEL_ROOM_X <= usable_width && G_HEIGHT * s + OS_PANEL_ROOM_Y <= usable_height) scale = s;
    }
    return scale;
}

int32_t os_window_to_frame(int32_t position, int32_t window_size, int32_t output_size, int32_t offset, int32_t factor) {
    if (window_size <= 0 || output_size <= 0 || factor <= 0) return position;
    // Window units become output pixels (more of them on a high-density display), then frame pixels; both
    // divisions round toward minus infinity, so positions left of or above the picture stay negative.
    const int64_t scaled = (int64_t)position * output_size;
    int64_t pixel = scaled / window_size;
    if (scaled % window_size != 0 && scaled < 0) pixel--;
    int64_t frame = pixel - offset;
    if (frame < 0)
        frame = -((-frame + factor - 1) / factor);
    else
        frame /= factor;
    return (int32_t)frame;
}

// A small stand-in application for the end-to-end run of the SDL2 platform layer: it opens the display, paints a
// picture, shows and logs every new key press, and shuts the display down again. Main thread only.
#include "graph.h"
#include "os_platform.h"
#include "os_tools.h"

static int32_t mini_presses; // key presses shown so far

static void mini_init() {
    g_init_display();
    g_layer_on[1] = 1;
    os_step_ms = 25;
    g_target = &g_layers[0];
    g_target_index = 0;
    // Eight coloured bands on layer 0, and a half-transparent bar over them on layer 1.
    for (int32_t i = 0; i < 8; i++) {
        const uint32_t c = 0xFF000000u | ((i & 1) ? 0xFF0000u : 0) | ((i & 2) ? 0x00FF00u : 0) | ((i & 4) ? 0xFFu : 0);
        g_fill_rect(i * (G_WIDTH / 8), 0, G_WIDTH / 8, G_HEIGHT, c);
    }
    g_target = &g_layers[1];
    g_target_index = 1;
    g_fill_rect(50, 200, 800, 40, 0x80FFFFFF);
}

static void mini_update() {
    // Every key in its first step after a press: logged, and shown as a square on layer 1.
    for (int32_t i = 0; i < 256; i++) {
        if (os_keys[i] != 1) continue;
        os_log("key %d\n", i);
        g_target = &g_layers[1];
        g_target_index = 1;
        g_fill_rect(20 + (mini_presses % 40) * 21, 20 + (mini_presses / 40 % 4) * 21, 16, 16, 0xFFFFFFFF);
        mini_presses++;
    }
    os_last_key = 0;
}

static void mini_shutdown() {
    os_log("mini: %d key presses\n", mini_presses);
    g_deinit_display();
}

// The host's loop over the frame clock, as the tracker's entry points run theirs.
int main() {
    os_use_process_hooks();
    os_frame_start();
    mini_init();
    os_frame_started();
    while (os_poll_event() == OS_EVENT_NONE) {
        const int32_t wait = os_frame_due();
        if (wait > 0) {
            os_wait_event(wait);
            continue;
        }
        mini_update();
        g_flip();
        os_frame_done();
    }
    mini_shutdown();
    return 0;
}

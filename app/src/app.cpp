// Start-up and shut-down of the whole tracker: display, sound, pictures, fonts, the song, the buttons and the
// editor's starting values, and their release in reverse order. Main thread. Owns the application state block
// and the main thread's hold on audio_lock.
#include "app.h"

#include "audio.h"
#include "os_platform.h"
#include "os_tools.h"
#include "pictures/pictures.h"

#include <cstring>

app_state app;                     // the application's state; main thread
const char* app_start_file;        // module named on the command line; null for none
void (*app_share_module)(const uint8_t* data, int32_t size); // takes the song's bytes for a link; null: none
static int32_t app_lock_depth;     // how many times the main thread holds audio_lock through app_lock
static int32_t app_start_unusable; // 1 while the start-up module's "Can not load" box is still to be shown
static int32_t app_no_device;      // 1 while the "No audio device" box is still to be shown

void app_lock() {
    audio_lock.lock();
    app_lock_depth++;
}

void app_unlock() {
    OS_ASSERT(app_lock_depth > 0);
    if (app_lock_depth <= 0) return;
    app_lock_depth--;
    audio_lock.unlock();
}

int32_t app_release_lock() {
    const int32_t depth = app_lock_depth;
    while (app_lock_depth > 0) app_unlock();
    return depth;
}

void app_reacquire_lock(int32_t depth) {
    for (int32_t i = 0; i < depth; i++) app_lock();
}

static void app_place_button(ui_button* b, int32_t y, const char* label) {
    b->x = 5;
    b->y = y;
    b->width = 100;
    b->height = 30;
    b->label = label;
    b->press_frames = 0;
}

void app_init() {
    memset(&app, 0, sizeof app);
    status_pattern = -1;
    status_order_pos = -1;

    // The window creation checks that nothing is allocated yet, so the display comes first.
    g_init_display();
    init_sounds();
    // Without a device the tracker still works, its clock keeping the song's time; the musician is told once.
    app_no_device = audio_device == nullptr;

    app_editor& ed = app.editor;
    ed.edit_mode = 1;
    ed.sel_col = -1;
    ed.sel_row = -1;

    g_layer_on[0] = 1;
    g_layer_on[1] = 1;
    ed.status_dirty = 1;
    ed.pattern_dirty = 1;

    app.logo_image = g_load_pcx(quavlo_title_pcx, quavlo_title_pcx_size);
    g_image glyphs = g_load_pcx(quavlo_glyphs_pcx, quavlo_glyphs_pcx_size);
    app.glyph_strip_2x = g_scale_image(2, &glyphs);
    app.glyph_strip_1x = g_scale_image(1, &glyphs);
    g_free_image(&glyphs);

    app.font_large = g_create_font(&app.glyph_strip_2x, 16);
    app.font_large2 = g_create_font(&app.glyph_strip_2x, 16);
    app.font_small = g_create_font(&app.glyph_strip_1x, 8);

    snd_create_song(&audio_engine, &app.song, 1);
    app_undo_clear();
    // A module named on the command line replaces the new song as LOAD would; one that gives no usable song
    // leaves the new song and is reported once the window shows it.
    app_start_unusable = 0;
    if (app_start_file && app_start_file[0]) app_start_unusable = !app_load_file(app_start_file);

    app_place_button(&app.btn_new, 100, "NEW");
    app_place_button(&app.btn_load, 135, "LOAD");
    app_place_button(&app.btn_save, 170, "SAVE");
    app_place_button(&app.btn_wav, 205, "WAV");

    ed.cur_octave = 4;
    ed.edit_step = 1;
    os_step_ms = 25;
}

void app_shutdown() {
    g_free_image(&app.glyph_strip_2x);
    g_free_image(&app.glyph_strip_1x);
    g_free_image(&app.logo_image);
    g_free_font(&app.font_large);
    g_free_font(&app.font_small);
    g_free_font(&app.font_large2);

    app_lock();
    // A capture still running is finished, so that "song.wav" is a complete file.
    if (audio_engine.capture.wav_file) app.btn_wav.label = "WAV";
    app_end_capture();
    snd_free_song(&audio_engine, &app.song);
    app_undo_clear();
    app_unlock();

    deinit_sounds();
    g_deinit_display();
}

void app_display_lost() {
    app_close_midi();
    app_release_lock();
    app_lock();
    app_end_capture();
    snd_free_song(&audio_engine, &app.song);
    app_unlock();
    deinit_sounds();
}

int app_present_flag() { return app.editor.present_flag; }

void app_start() {
    os_frame_start();
    app_init();
    os_frame_started();
}

void app_frame(bool may_wait) {
    const int32_t wait = os_frame_due();
    if (wait > 0) {
        if (may_wait) os_wait_event(wait);
        return;
    }
    app_update();
    app_draw_interface();
    app_draw_pattern_view();
    app_draw_help();
    if (app_present_flag()) g_flip();
    os_frame_done();
}

void app_run() {
    app_start();
    app_open_midi();
    for (;;) {
        // Closing the window is a request: the application may first ask about unsaved work, and refuse. A
        // termination signal is not: nobody may be there to answer, so the program ends at once.
        const int request = app_poll_event();
        if (request == OS_EVENT_END || (request == OS_EVENT_CLOSE && app_confirm_quit())) {
            app_close_midi();
            app_shutdown();
            return;
        }
        // Notes from a MIDI keyboard are taken as often as window events: at the latest after the wait for the
        // next step.
        app_poll_midi();
        app_frame(true);
    }
}

void app_report_start_file() {
    if (!app_start_unusable || !app.editor.present_flag) return;
    app_start_unusable = 0;
    app_show_message("Can not load");
}

void app_report_no_device() {
    if (!app_no_device || !app.editor.present_flag) return;
    app_no_device = 0;
    if (!audio_device) app_show_message("No audio device");
}

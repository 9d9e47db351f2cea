// The commands behind the NEW, LOAD, SAVE and WAV buttons (and Ctrl+O, Ctrl+L, Ctrl+S, Ctrl+W). Main thread,
// called from the editor with audio_lock held; the lock is let go while a modal dialog or message box is open,
// so the audio thread keeps running (with the song stopped) and the window can be repainted.
#include "app.h"

#include "os_platform.h"
#include "os_tools.h"

#include <cstring>

static constexpr int32_t APP_PATH_CHARS = 256; // capacity of the dialog's path and title buffers

// Input that reached the window before or during a modal dialog belongs to the dialog: every key counts as
// released and the mouse button as up, so nothing fires again or stays held when the editor resumes.
static void app_forget_input() {
    os_clear_keys();
    os_last_key = 0;
    os_mouse_down = 0;
}

static int app_open_dialog(char* path) {
    const int32_t depth = app_release_lock();
    const int chosen = os_open_dialog(path, APP_PATH_CHARS);
    app_reacquire_lock(depth);
    app_forget_input();
    return chosen;
}

static int app_save_dialog(char* path, int* type) {
    const int32_t depth = app_release_lock();
    const int chosen = os_save_dialog(path, APP_PATH_CHARS, type);
    app_reacquire_lock(depth);
    app_forget_input();
    return chosen;
}

void app_show_message(const char* text) {
    const int32_t depth = app_release_lock();
    os_message_box(text, "ERROR");
    app_reacquire_lock(depth);
    app_forget_input();
}

void app_file_new() {
    snd_free_song(&app.song);
    snd_create_song(&app.song, 1);
    // Channels pinned to patterns of the old song show the new one, which starts without a history.
    app_unpin_channels();
    app_undo_clear();
    app.editor.status_dirty = 1;
}

// The file is read before the song is touched: a file that does not give a usable song leaves the song as
// it was.
int app_load_file(const char* path) {
    snd_song loaded = load_module(path);
    if (!snd_song_usable(&loaded)) {
        snd_free_song(&loaded);
        return 0;
    }
    snd_repair_song(&loaded);
    snd_free_song(&app.song);
    app.song = loaded;
    // Channels pinned to patterns of the old song show the new one, which starts without a history.
    app_unpin_channels();
    app_undo_clear();
    app.editor.status_dirty = 1;
    return 1;
}

void app_file_load() {
    snd_stop_song(&app.song);
    char path[APP_PATH_CHARS] = "";
    if (!app_open_dialog(path)) return;
    if (!app_load_file(path)) app_show_message("Can not load");
}

void app_file_save() {
    snd_stop_song(&app.song);
    char path[APP_PATH_CHARS] = "";
    int type = OS_FILE_MODULE;
    if (!app_save_dialog(path, &type)) return;

    int32_t ok;
    if (type == OS_FILE_HEADER) {
        // The array is named after the file, as a C identifier; it may be one byte longer than the path.
        char name[APP_PATH_CHARS + 1];
        snd_header_name(path, name, (int32_t)sizeof name);
        ok = export_c_header(path, name, &app.song);
    } else {
        ok = save_module(path, &app.song);
    }
    if (!ok) app_show_message("Can not save");
}

void app_file_wav() {
    ui_button& b = app.btn_wav;
    if (b.label && strcmp(b.label, "WAV") == 0) {
        wav_start();
        b.label = "STOP";
        if (app_current_pattern() && app.song.order && app.song.order_pos >= 0 &&
            app.song.order_pos < app.song.order_len)
            snd_play_song(&app.song);
    } else {
        // A capture whose file could not be opened has nothing to finish.
        if (wav_file) wav_stop();
        b.label = "WAV";
        snd_stop_song(&app.song);
    }
    app.editor.status_dirty = 1;
}

// The commands behind the NEW, LOAD, SAVE and WAV buttons (and Ctrl+O, Ctrl+L, Ctrl+S, Ctrl+W), the question
// before unsaved work would be discarded (also when the window is closed), and the window title. Main thread,
// called with audio_lock held; the lock is let go while a modal dialog or message box is open, so the audio
// thread keeps running and the window can be repainted.
#include "app.h"

#include "os_midi.h"
#include "os_platform.h"
#include "os_tools.h"

#include <cstdio>
#include <cstring>

static constexpr int32_t APP_PATH_CHARS = OS_PATH_CHARS; // capacity of the dialogs' path buffers

// Input that reached the window before or during a modal dialog belongs to the dialog: every key counts as
// released and the mouse button as up, so nothing fires again or stays held when the editor resumes. Notes played
// on a MIDI keyboard meanwhile are not written either.
static void app_forget_input() {
    os_midi_forget();
    os_clear_keys();
    os_last_key = 0;
    os_mouse_down = 0;
}

static int app_open_dialog(char* path) {
    const int32_t depth = app_release_lock();
    const int chosen = os_open_dialog(path, APP_PATH_CHARS, app.song_dir);
    app_reacquire_lock(depth);
    app_forget_input();
    return chosen;
}

static int app_save_dialog(char* path, int* type) {
    const int32_t depth = app_release_lock();
    const int chosen = os_save_dialog(path, APP_PATH_CHARS, type, app.song_dir, app.song_name);
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

// The song's file name for the title and the save dialog: the path without its directory. Its directory is where
// the dialogs start from now on, also after NEW; a path without one names the working directory.
static void app_set_song_name(const char* path) {
    const char* name = path;
    for (const char* c = path; *c; c++)
        if (*c == '/' || *c == '\\') name = c + 1;
    snprintf(app.song_name, sizeof app.song_name, "%s", name);
    const int32_t dir_length = (int32_t)(name - path);
    if (dir_length < (int32_t)sizeof app.song_dir)
        snprintf(app.song_dir, sizeof app.song_dir, "%.*s", (int)dir_length, path);
    app.title_stale = 1;
}

// Before unsaved changes would be discarded: Save (the SAVE command), Discard or Cancel. Returns 1 when the
// command may go on: nothing was unsaved, the musician discarded it, or the song was written to a file.
static int app_may_discard(const char* text) {
    if (!app_song_changed()) return 1;
    const int32_t depth = app_release_lock();
    const int answer = os_ask_save_changes(text, "Unsaved changes");
    app_reacquire_lock(depth);
    app_forget_input();
    if (answer == OS_ANSWER_DISCARD) return 1;
    if (answer == OS_ANSWER_SAVE) return app_file_save();
    return 0;
}

int app_confirm_quit() {
    app_lock();
    const int quit = app_may_discard("The song has unsaved changes. Save them before closing?");
    app_unlock();
    return quit;
}

// A replaced song starts without a history and without unsaved changes.
static void app_song_replaced() {
    app_unpin_channels();
    app_undo_clear();
    app.editor.status_dirty = 1;
}

void app_file_new() {
    if (!app_may_discard("The song has unsaved changes. Save them before starting a new song?")) return;
    snd_free_song(&audio_engine, &app.song);
    snd_create_song(&audio_engine, &app.song, 1);
    app_song_replaced();
    app.song_name[0] = 0;
    app.title_stale = 1;
}

// The file is read before the song is touched: a file that does not give a usable song leaves the song as
// it was.
int app_load_file(const char* path) {
    snd_song loaded = load_module(&audio_engine, path);
    if (!snd_song_usable(&loaded)) {
        snd_free_song(&audio_engine, &loaded);
        return 0;
    }
    snd_repair_song(&loaded);
    snd_free_song(&audio_engine, &app.song);
    app.song = loaded;
    app_song_replaced();
    app_set_song_name(path);
    return 1;
}

void app_file_load() {
    if (!app_may_discard("The song has unsaved changes. Save them before loading another song?")) return;
    snd_stop_song(&audio_engine, &app.song);
    char path[APP_PATH_CHARS] = "";
    const int chosen = app_open_dialog(path);
    if (chosen == 0) return;
    if (chosen < 0 || !app_load_file(path)) app_show_message("Can not load");
}

// A module written is the song's file from now on; a header export leaves the song's file and its changes as
// they were, since LOAD cannot read it back.
int app_file_save() {
    snd_stop_song(&audio_engine, &app.song);
    char path[APP_PATH_CHARS] = "";
    int type = OS_FILE_MODULE;
    const int chosen = app_save_dialog(path, &type);
    if (chosen < 0) app_show_message("Can not save");
    if (chosen <= 0) return 0;

    int32_t ok;
    if (type == OS_FILE_HEADER) {
        // The array is named after the file, as a C identifier; it may be one byte longer than the path.
        char name[APP_PATH_CHARS + 1];
        snd_header_name(path, name, (int32_t)sizeof name);
        ok = export_c_header(path, name, &app.song);
    } else {
        ok = save_module(path, &app.song);
        if (ok) {
            app_undo_mark_saved();
            app_set_song_name(path);
        }
    }
    if (!ok) app_show_message("Can not save");
    return ok ? 1 : 0;
}

void app_end_capture() {
    if (!audio_engine.capture.wav_file && !audio_engine.capture.queue) return;
    wav_end_taking(&audio_engine);
    // The audio thread hands no more blocks over: the rest is written without the lock, so that a slow disk never
    // keeps the sound waiting.
    const int32_t depth = app_release_lock();
    wav_stop(&audio_engine);
    app_reacquire_lock(depth);
}

void app_file_wav() {
    ui_button& b = app.btn_wav;
    if (b.label && strcmp(b.label, "WAV") == 0) {
        wav_start(&audio_engine);
        b.label = "STOP";
        if (app_current_pattern() && app.song.order && app.song.order_pos >= 0 &&
            app.song.order_pos < app.song.order_len)
            snd_play_song(&audio_engine, &app.song);
    } else {
        app_end_capture();
        b.label = "WAV";
        snd_stop_song(&audio_engine, &app.song);
    }
    app.editor.status_dirty = 1;
}

void app_report_wav_failure() {
    if (!audio_engine.capture.wav_failed) return;
    audio_engine.capture.wav_failed = 0;
    // The capture has already ended with a complete file; its queue goes, the button offers a new one, and the
    // song plays on.
    app_end_capture();
    app.btn_wav.label = "WAV";
    app.editor.status_dirty = 1;
    app_show_message("Can not save");
}

void app_show_title() {
    const uint8_t changed = app_song_changed() ? 1 : 0;
    if (changed == app.title_changed && !app.title_stale) return;
    app.title_changed = changed;
    app.title_stale = 0;
    char title[sizeof app.song_name + 16];
    if (app.song_name[0])
        snprintf(title, sizeof title, "QuavloII - %s%s", app.song_name, changed ? " *" : "");
    else
        snprintf(title, sizeof title, "QuavloII%s", changed ? " *" : "");
    os_set_title(title);
}

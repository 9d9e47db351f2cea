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

static void app_song_replaced();

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

// Making a song (its eight samples) touches only the engine's sample-making state, the noise seed and the count of
// live samples, which rendering never reads: it runs without the lock, so the sound never waits for it. Freeing the
// old song stops it in the player, which needs the lock.
static snd_song app_make_song_unlocked(const char* path) {
    const int32_t depth = app_release_lock();
    snd_song song;
    if (path)
        song = load_module(&audio_engine, path);
    else
        snd_create_song(&audio_engine, &song, 1);
    app_reacquire_lock(depth);
    return song;
}

// ---- File commands on their way
//
// A command that may need the musician goes through stages: the save question (NEW, LOAD and closing, when the
// song has unsaved changes), the save dialog (SAVE, or the answer Save), the open dialog (LOAD), and its own
// work. A native backend answers each dialog at once, so a command runs to its end within the step that started
// it; a browser's page only starts the dialog, the command waits in its stage, and app_dialog_answered takes it
// on from there when the answer comes.

static const char* app_question_text(int32_t command) {
    switch (command) {
    case APP_JOB_NEW:
        return "The song has unsaved changes. Save them before starting a new song?";
    case APP_JOB_QUIT:
        return "The song has unsaved changes. Save them before closing?";
    default:
        return "The song has unsaved changes. Save them before loading another song?";
    }
}

// The stage after the question has let the song go.
static int32_t app_stage_after_question(int32_t command) {
    return command == APP_JOB_LOAD ? APP_STAGE_OPEN_DIALOG : APP_STAGE_FINISH;
}

// Writes the song as the save dialog's answer asks. A module written is the song's file from now on; a header
// export leaves the song's file and its changes as they were, since LOAD cannot read it back.
// The file is written and synced without the lock: the song has been stopped, so the audio thread only reads the
// samples of a preview, and only this thread changes the song.
static int app_write_song(const char* path, int type) {
    int32_t ok;
    const int32_t depth = app_release_lock();
    if (type == OS_FILE_HEADER) {
        // The array is named after the file, as a C identifier; it may be one byte longer than the path.
        char name[APP_PATH_CHARS + 1];
        snd_header_name(path, name, (int32_t)sizeof name);
        ok = export_c_header(path, name, &app.song);
    } else {
        ok = save_module(path, &app.song);
    }
    app_reacquire_lock(depth);
    if (ok && type != OS_FILE_HEADER) {
        app_undo_mark_saved();
        app_set_song_name(path);
    }
    if (!ok) app_show_message("Can not save");
    return ok ? 1 : 0;
}

static void app_finish_command(app_file_job& job) {
    switch (job.command) {
    case APP_JOB_NEW: {
        snd_song fresh = app_make_song_unlocked(nullptr);
        snd_free_song(&audio_engine, &app.song);
        app.song = fresh;
        app_song_replaced();
        app.song_name[0] = 0;
        app.title_stale = 1;
        break;
    }
    case APP_JOB_LOAD_FILE:
        snd_stop_song(&audio_engine, &app.song);
        if (!app_load_file(job.path)) app_show_message("Can not load");
        break;
    case APP_JOB_QUIT:
        job.quit = 1;
        break;
    default:
        break;
    }
}

// The answer a waiting stage was given, in place of asking again.
struct app_answer {
    int value;        // the question's answer, or the dialog's result (1 chosen, 0 cancelled, -1 too long)
    const char* path; // the chosen file
    int type;         // the save dialog's file type
};

// Takes the command on from its stage until it is done, or until a dialog it started has not answered yet.
static void app_run_command(const app_answer* given) {
    app_file_job& job = app.job;
    job.waiting = 0;
    while (job.command != APP_JOB_NONE) {
        switch (job.stage) {
        case APP_STAGE_QUESTION: {
            if (!app_song_changed()) {
                job.stage = app_stage_after_question(job.command);
                break;
            }
            int answer = OS_ANSWER_CANCEL;
            if (given) {
                answer = given->value;
                given = nullptr;
            } else {
                const int32_t depth = app_release_lock();
                answer = os_ask_save_changes(app_question_text(job.command), "Unsaved changes");
                app_reacquire_lock(depth);
                app_forget_input();
            }
            if (answer == OS_DIALOG_PENDING) {
                job.waiting = 1;
                return;
            }
            if (answer == OS_ANSWER_DISCARD)
                job.stage = app_stage_after_question(job.command);
            else if (answer == OS_ANSWER_SAVE)
                job.stage = APP_STAGE_SAVE_DIALOG;
            else
                job.command = APP_JOB_NONE;
            break;
        }
        case APP_STAGE_SAVE_DIALOG: {
            snd_stop_song(&audio_engine, &app.song);
            char path[APP_PATH_CHARS] = "";
            int type = OS_FILE_MODULE;
            int chosen;
            if (given) {
                chosen = given->value;
                type = given->type;
                snprintf(path, sizeof path, "%s", given->path ? given->path : "");
                if (chosen > 0 && given->path && strlen(given->path) >= sizeof path) chosen = -1;
                given = nullptr;
            } else {
                chosen = app_save_dialog(path, &type);
            }
            if (chosen == OS_DIALOG_PENDING) {
                job.waiting = 1;
                return;
            }
            if (chosen < 0) app_show_message("Can not save");
            if (chosen <= 0 || !app_write_song(path, type)) {
                job.command = APP_JOB_NONE;
                break;
            }
            job.written = 1;
            if (job.command == APP_JOB_SAVE)
                job.command = APP_JOB_NONE;
            else
                job.stage = app_stage_after_question(job.command);
            break;
        }
        case APP_STAGE_OPEN_DIALOG: {
            snd_stop_song(&audio_engine, &app.song);
            char path[APP_PATH_CHARS] = "";
            int chosen;
            if (given) {
                chosen = given->value;
                snprintf(path, sizeof path, "%s", given->path ? given->path : "");
                if (chosen > 0 && given->path && strlen(given->path) >= sizeof path) chosen = -1;
                given = nullptr;
            } else {
                chosen = app_open_dialog(path);
            }
            if (chosen == OS_DIALOG_PENDING) {
                job.waiting = 1;
                return;
            }
            job.command = APP_JOB_NONE;
            if (chosen != 0 && (chosen < 0 || !app_load_file(path))) app_show_message("Can not load");
            break;
        }
        default:
            app_finish_command(job);
            job.command = APP_JOB_NONE;
            break;
        }
    }
}

// Starts a command from its first stage; a command still waiting for a dialog is not interrupted.
static bool app_start_command(int32_t command, int32_t stage) {
    app_file_job& job = app.job;
    if (job.command != APP_JOB_NONE) return false;
    job.command = command;
    job.stage = stage;
    job.written = 0;
    job.quit = 0;
    app_run_command(nullptr);
    return true;
}

bool app_dialog_waiting() { return app.job.command != APP_JOB_NONE && app.job.waiting; }

void app_dialog_answered(int answer, const char* path, int file_type) {
    if (!app_dialog_waiting()) return;
    const app_answer given = {answer, path, file_type};
    app_run_command(&given);
    app_forget_input();
    app.editor.status_dirty = 1;
    app.editor.pattern_dirty = 1;
}

int app_confirm_quit() {
    app_lock();
    app_start_command(APP_JOB_QUIT, APP_STAGE_QUESTION);
    const int quit = app.job.quit;
    // Closing cannot wait for an answer that is still to come: the window stays.
    app.job.command = APP_JOB_NONE;
    app_unlock();
    return quit;
}

// A replaced song starts without a history and without unsaved changes.
static void app_song_replaced() {
    app_unpin_channels();
    app_undo_clear();
    app.editor.status_dirty = 1;
}

void app_file_new() { app_start_command(APP_JOB_NEW, APP_STAGE_QUESTION); }

// The file is read before the song is touched: a file that does not give a usable song leaves the song as
// it was.
int app_load_file(const char* path) {
    snd_song loaded = app_make_song_unlocked(path);
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

void app_file_load() { app_start_command(APP_JOB_LOAD, APP_STAGE_QUESTION); }

bool app_file_load_from(const char* path) {
    if (app.job.command != APP_JOB_NONE) return false;
    snprintf(app.job.path, sizeof app.job.path, "%s", path ? path : "");
    return app_start_command(APP_JOB_LOAD_FILE, APP_STAGE_QUESTION);
}

int app_file_save() {
    if (!app_start_command(APP_JOB_SAVE, APP_STAGE_SAVE_DIALOG)) return 0;
    return app.job.written;
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

void app_share_song() {
    if (!app_share_module) return;
    const int32_t size = snd_pack_module(&app.song, nullptr, 0);
    if (size <= 0) return;
    uint8_t* data = (uint8_t*)os_alloc(size);
    if (snd_pack_module(&app.song, data, size) == size) app_share_module(data, size);
    os_free(&data);
}

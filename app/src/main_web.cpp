// The tracker's entry point in the browser: starts the program, brings back the song the page kept, and hands
// the loop to the browser's animation frames. Each frame takes the page's answers (a dialog's, a dropped file, a
// song link), runs the step when it is due, hands finished files over as downloads, and keeps the song in the
// page's storage within a second of every change. Main thread (the page's only one).
#include "app.h"
#include "audio.h"
#include "os_midi.h"
#include "os_platform.h"
#include "os_tools.h"
#include "platform_web.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// What the page's storage holds: the song as a link's fragment, its file name, and whether it is kept in no file.
static constexpr const char* WEB_KEY_SONG = "quavlo.song";
static constexpr const char* WEB_KEY_NAME = "quavlo.name";
static constexpr const char* WEB_KEY_UNSAVED = "quavlo.unsaved";
static constexpr double WEB_STORE_EVERY_MS = 400; // how often the song is compared with the one kept
static constexpr const char* WEB_WAV = "song.wav";

static std::vector<uint8_t> web_kept_module; // the module bytes last written to the storage
static std::string web_kept_name;            // the name last written
static std::string web_kept_unsaved;         // the unsaved mark last written
static double web_next_store;                // page clock at which the song is next compared
static int32_t web_leave_question = -1;      // whether the browser asks before the page is left; -1 not set yet

// No audio thread: the page's audio context takes the samples itself.
static bool web_no_audio_thread() { return true; }

// The bytes written as a file of the picked folder, under the file name name. Its path, or "" when it cannot be
// written.
static std::string web_write_picked(const std::vector<uint8_t>& bytes, const char* name) {
    const std::string path = std::string(WEB_PICKED_DIR) + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return "";
    const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (fclose(f) != 0 || !ok) return "";
    return path;
}

// The share key: the song's link, copied and shown.
static void web_share(const uint8_t* data, int32_t size) {
    web_show_link(web_page_address() + app_link_fragment(data, size));
}

// A song link opened in the page: loaded as LOAD loads a file, after the save question; a link whose bytes cannot
// be read back is "Can not load" at once. The page's address loses the fragment, so that a reload brings back
// the song kept in the storage.
static void web_open_fragment(const std::string& fragment) {
    std::vector<uint8_t> module;
    const int link = app_link_module(fragment.c_str(), &module);
    if (link == 0) return;
    web_clear_fragment();
    app_lock();
    const std::string path = link > 0 ? web_write_picked(module, "song.qvl") : "";
    if (path.empty() || !app_file_load_from(path.c_str())) app_show_message("Can not load");
    app_unlock();
}

// The song the page kept when it was last open, back as it was: its name, and whether a file holds it.
static void web_restore_song() {
    std::string fragment, name, unsaved;
    if (!web_stored(WEB_KEY_SONG, &fragment)) return;
    web_stored(WEB_KEY_NAME, &name);
    web_stored(WEB_KEY_UNSAVED, &unsaved);
    std::vector<uint8_t> module;
    if (app_link_module(fragment.c_str(), &module) <= 0) return;
    const bool named = !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
    const std::string path = web_write_picked(module, named ? name.c_str() : "song.qvl");
    app_lock();
    if (!path.empty() && app_load_file(path.c_str())) {
        if (!named) {
            app.song_name[0] = 0;
            app.title_stale = 1;
        }
        if (unsaved == "1") app_undo_mark_unsaved();
        app_show_title();
        web_kept_module = module;
        web_kept_name = named ? name : "";
        web_kept_unsaved = unsaved;
    }
    app_unlock();
}

// Writes the song to the page's storage when it differs from what is kept there.
static void web_keep_song() {
    app_lock();
    const int32_t size = snd_pack_module(&app.song, nullptr, 0);
    std::vector<uint8_t> module(size > 0 ? (size_t)size : 0);
    const bool packed = size > 0 && snd_pack_module(&app.song, module.data(), size) == size;
    const bool changed = app_song_changed();
    const std::string name = app.song_name;
    app_unlock();
    if (web_leave_question != (changed ? 1 : 0)) {
        web_leave_question = changed ? 1 : 0;
        web_set_leave_question(web_leave_question);
    }
    const std::string unsaved = changed ? "1" : "0";
    if (!packed || (module == web_kept_module && name == web_kept_name && unsaved == web_kept_unsaved)) return;
    const std::string fragment = app_link_fragment(module.data(), size);
    web_store(WEB_KEY_SONG, fragment);
    web_store(WEB_KEY_NAME, name);
    web_store(WEB_KEY_UNSAVED, unsaved);
    web_kept_module = module;
    web_kept_name = name;
    web_kept_unsaved = unsaved;
}

// Files the program has finished writing go to the musician: what SAVE wrote into the downloads folder, and
// "song.wav" once its recording has stopped.
static void web_hand_over_files() {
    if (DIR* dir = opendir(WEB_DOWNLOAD_DIR)) {
        std::vector<std::string> names;
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            // A ".part" file is a save still on its way (or one that failed).
            if (name == "." || name == ".." || (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0))
                continue;
            names.push_back(name);
        }
        closedir(dir);
        for (const std::string& name : names)
            web_download((std::string(WEB_DOWNLOAD_DIR) + "/" + name).c_str(), name.c_str());
    }
    struct stat info;
    if (!audio_engine.capture.wav_file && !audio_engine.capture.queue && stat(WEB_WAV, &info) == 0)
        web_download(WEB_WAV, WEB_WAV);
}

static void web_frame() {
    int answer = 0, type = OS_FILE_MODULE;
    std::string path;
    if (web_take_answer(&answer, &path, &type)) {
        app_lock();
        app_dialog_answered(answer, path.c_str(), type);
        app_unlock();
    }
    // A file dropped or a link opened while a dialog is open waits until it has closed.
    std::string fragment;
    if (!app_dialog_waiting() && web_take_dropped(&path)) {
        app_lock();
        app_file_load_from(path.c_str());
        app_unlock();
    }
    if (!app_dialog_waiting() && web_take_fragment(&fragment)) web_open_fragment(fragment);

    app_sound_typed_note();
    app_poll_midi();
    app_frame(false);
    web_hand_over_files();
    if (web_now_ms() >= web_next_store) {
        web_next_store = web_now_ms() + WEB_STORE_EVERY_MS;
        web_keep_song();
    }
}

int main() {
    os_use_process_hooks();
    audio_start_thread = web_no_audio_thread;
    app_share_module = web_share;
    mkdir(WEB_PICKED_DIR, 0755);
    mkdir(WEB_DOWNLOAD_DIR, 0755);
    app_start();
    app_midi_api = OS_MIDI_AUTO;
    app_open_midi();
    web_restore_song();
    web_run_frames(web_frame, web_keep_song);
    return 0;
}

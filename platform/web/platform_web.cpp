// The browser's page as the tracker's window, on emscripten's HTML5 API: the clock, the canvas whose backing store
// is the 900 x 520 frame (enlarged by the page's style), keys and mouse from the canvas into the polled input state,
// presentation of the changed rectangle, and the page's dialogs, message box and save question, which never block:
// they are started here and answered later (OS_DIALOG_PENDING). Also what the web entry point needs of the page
// (platform_web.h): answers, dropped files, links, downloads, storage, clipboard, the frame loop. Main thread (the
// page has no other). Owns the frame's RGBA copy and the answers waiting to be taken.
#include "platform_web.h"

#include "graph.h"
#include "os_platform.h"
#include "os_tools.h"

#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstdlib>
#include <cstring>

// The page's side (library_web.js).
extern "C" {
void web_js_init_page();
void web_js_present(const uint8_t* rgba, int32_t x, int32_t y, int32_t width, int32_t height);
void web_js_set_title(const char* title);
void web_js_question(const char* text, const char* caption);
void web_js_save_dialog(const char* name);
void web_js_open_dialog();
void web_js_message(const char* text, const char* caption);
int32_t web_js_download(const char* path, const char* name);
void web_js_store(const char* key, const char* value);
char* web_js_stored(const char* key); // malloc'd, or null
void web_js_show_link(const char* link);
void web_js_leave_question(int32_t on);
char* web_js_fragment(); // malloc'd
char* web_js_address();  // malloc'd
void web_js_clear_fragment();
void web_js_run_frames();
}

// Which dialog the page shows, so that its answer can be read.
enum : int32_t { WEB_DIALOG_NONE, WEB_DIALOG_QUESTION, WEB_DIALOG_SAVE, WEB_DIALOG_OPEN };

static uint32_t web_rgba[G_WIDTH * G_HEIGHT]; // the frame as the canvas takes it: R, G, B, A bytes, opaque
static int32_t web_dialog;                    // WEB_DIALOG_*: the dialog shown, whose answer is awaited
static bool web_answer_ready;                 // an answer came and is still to be taken
static int web_answer_value;                  // its value: OS_ANSWER_*, or 1 chosen / 0 cancelled / -1 too long
static std::string web_answer_path;           // the chosen file
static int web_answer_type;                   // the save dialog's file type
static std::string web_dropped_path;          // a file dropped on the page, still to be taken; "" none
static bool web_fragment_changed = true;      // the page's fragment is still to be taken (at first: as opened)
static void (*web_frame)();                   // the program's loop, called on every animation frame
static void (*web_leave)();                   // called as the page is about to be left

// ---- Clock

int64_t os_counter() { return (int64_t)(emscripten_get_now() * 1000.0); }
int64_t os_counter_freq() { return 1000000; }
double web_now_ms() { return emscripten_get_now(); }
// The page's thread never sleeps or waits: the browser calls the loop again.
void os_sleep_1ms() {}
void os_wait_event(int32_t) {}
// Events come through the callbacks below as they happen; a close is the browser's own question.
int os_poll_event() { return OS_EVENT_NONE; }

// ---- Input

static EM_BOOL web_on_key(int type, const EmscriptenKeyboardEvent* e, void*) {
    const int32_t taken =
        web_key_event(e->code, e->key, e->altKey, e->metaKey, type == EMSCRIPTEN_EVENT_KEYDOWN, e->repeat);
    return taken ? EM_TRUE : EM_FALSE;
}

// A position on the canvas (CSS pixels from its top-left corner) as a frame pixel.
static void web_mouse_to_frame(const EmscriptenMouseEvent* e) {
    double css_w = 0, css_h = 0;
    emscripten_get_element_css_size("#canvas", &css_w, &css_h);
    os_mouse_x = os_window_to_frame((int32_t)e->targetX, (int32_t)css_w, G_WIDTH, 0, 1) & 0xFFFF;
    os_mouse_y = os_window_to_frame((int32_t)e->targetY, (int32_t)css_h, G_HEIGHT, 0, 1) & 0xFFFF;
}

static EM_BOOL web_on_mouse(int type, const EmscriptenMouseEvent* e, void*) {
    if (type == EMSCRIPTEN_EVENT_MOUSEMOVE) {
        web_mouse_to_frame(e);
        return EM_FALSE;
    }
    if (e->button != 0) return EM_FALSE;
    if (type == EMSCRIPTEN_EVENT_MOUSEDOWN) {
        web_mouse_to_frame(e);
        os_mouse_down = 1;
    } else {
        os_mouse_down = 0;
    }
    return EM_FALSE;
}

static EM_BOOL web_on_blur(int, const EmscriptenFocusEvent*, void*) {
    web_release_keys();
    return EM_FALSE;
}

// ---- Window and presentation

int32_t os_init_window(g_display_info* display) {
    os_log("PLATFORM WEB\n");
    OS_ASSERT(display != nullptr);
    web_js_init_page();
    emscripten_set_keydown_callback("#canvas", nullptr, EM_TRUE, web_on_key);
    emscripten_set_keyup_callback("#canvas", nullptr, EM_TRUE, web_on_key);
    emscripten_set_mousemove_callback("#canvas", nullptr, EM_TRUE, web_on_mouse);
    emscripten_set_mousedown_callback("#canvas", nullptr, EM_TRUE, web_on_mouse);
    // A release outside the canvas still ends the press.
    emscripten_set_mouseup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, web_on_mouse);
    emscripten_set_blur_callback("#canvas", nullptr, EM_TRUE, web_on_blur);
    emscripten_set_blur_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, web_on_blur);
    return 1;
}

void os_create_dib(int32_t, int32_t) {}
void os_destroy_dib() {}
void os_release_window() {}

void os_present(int32_t width, int32_t height) {
    OS_ASSERT(width == G_WIDTH && height == G_HEIGHT);
    g_rect r = g_frame;
    if (r.min_x < 0) r.min_x = 0;
    if (r.min_y < 0) r.min_y = 0;
    if (r.max_x > G_WIDTH) r.max_x = G_WIDTH;
    if (r.max_y > G_HEIGHT) r.max_y = G_HEIGHT;
    if (!g_composite || r.min_x >= r.max_x || r.min_y >= r.max_y) return;
    // 0xAARRGGBB words become R, G, B, A bytes; the canvas shows every pixel opaque, as the window does.
    for (int32_t y = r.min_y; y < r.max_y; y++) {
        const uint32_t* in = g_composite + y * G_WIDTH;
        uint32_t* out = web_rgba + y * G_WIDTH;
        for (int32_t x = r.min_x; x < r.max_x; x++) {
            const uint32_t p = in[x];
            out[x] = 0xFF000000u | (p & 0x0000FF00u) | ((p >> 16) & 0xFFu) | ((p & 0xFFu) << 16);
        }
    }
    web_js_present((const uint8_t*)web_rgba, r.min_x, r.min_y, r.max_x - r.min_x, r.max_y - r.min_y);
}

void os_set_title(const char* title) { web_js_set_title(title ? title : ""); }

// ---- Dialogs: started here, answered by the page through web_answered

int os_open_dialog(char*, int32_t, const char*) {
    web_dialog = WEB_DIALOG_OPEN;
    web_answer_ready = false;
    web_js_open_dialog();
    return OS_DIALOG_PENDING;
}

int os_save_dialog(char*, int32_t, int*, const char*, const char* name) {
    web_dialog = WEB_DIALOG_SAVE;
    web_answer_ready = false;
    web_js_save_dialog(name && name[0] ? name : "song.qvl");
    return OS_DIALOG_PENDING;
}

int os_ask_save_changes(const char* text, const char* caption) {
    web_dialog = WEB_DIALOG_QUESTION;
    web_answer_ready = false;
    web_js_question(text ? text : "", caption ? caption : "");
    return OS_DIALOG_PENDING;
}

// Shown over the page; the program goes on meanwhile.
void os_message_box(const char* text, const char* caption) { web_js_message(text ? text : "", caption ? caption : ""); }

// The file named in the save dialog, in the downloads folder: ".h" (or ".H") exports the header, any other name
// saves the module, and a name without '.' gets ".qvl". A name cannot reach another folder.
static void web_save_target(const char* name, std::string* path, int* type) {
    std::string file = name ? name : "";
    for (char& c : file)
        if (c == '/' || c == '\\') c = '_';
    const size_t n = file.size();
    *type =
        n >= 2 && file[n - 2] == '.' && (file[n - 1] == 'h' || file[n - 1] == 'H') ? OS_FILE_HEADER : OS_FILE_MODULE;
    if (*type == OS_FILE_MODULE && file.find('.') == std::string::npos) file += ".qvl";
    *path = std::string(WEB_DOWNLOAD_DIR) + "/" + file;
}

// The page's answer: the question's (OS_ANSWER_*), or a dialog's: value 1 with the chosen file's path (open) or
// name (save), 0 when cancelled.
extern "C" EMSCRIPTEN_KEEPALIVE void web_answered(int value, const char* text) {
    if (web_dialog == WEB_DIALOG_NONE) return;
    web_answer_value = value;
    web_answer_path.clear();
    web_answer_type = OS_FILE_MODULE;
    if (web_dialog == WEB_DIALOG_SAVE && value > 0) {
        if (!text || !text[0] || strcmp(text, ".") == 0 || strcmp(text, "..") == 0)
            web_answer_value = 0;
        else
            web_save_target(text, &web_answer_path, &web_answer_type);
    } else if (web_dialog == WEB_DIALOG_OPEN && value > 0) {
        web_answer_path = text ? text : "";
        if ((int32_t)web_answer_path.size() >= OS_PATH_CHARS) web_answer_value = -1;
    }
    web_dialog = WEB_DIALOG_NONE;
    web_answer_ready = true;
}

bool web_take_answer(int* answer, std::string* path, int* file_type) {
    if (!web_answer_ready) return false;
    web_answer_ready = false;
    *answer = web_answer_value;
    *path = web_answer_path;
    *file_type = web_answer_type;
    return true;
}

extern "C" EMSCRIPTEN_KEEPALIVE void web_dropped(const char* path) { web_dropped_path = path ? path : ""; }

bool web_take_dropped(std::string* path) {
    if (web_dropped_path.empty()) return false;
    *path = web_dropped_path;
    web_dropped_path.clear();
    return true;
}

// ---- Links, downloads, storage

extern "C" EMSCRIPTEN_KEEPALIVE void web_fragment_changed_now() { web_fragment_changed = true; }

// A string the page allocated, taken over and freed.
static std::string web_take_string(char* text) {
    std::string s = text ? text : "";
    free(text);
    return s;
}

bool web_take_fragment(std::string* fragment) {
    if (!web_fragment_changed) return false;
    web_fragment_changed = false;
    *fragment = web_take_string(web_js_fragment());
    return !fragment->empty();
}

std::string web_page_address() { return web_take_string(web_js_address()); }
void web_clear_fragment() { web_js_clear_fragment(); }
bool web_download(const char* path, const char* name) { return web_js_download(path, name) != 0; }
void web_store(const char* key, const std::string& value) { web_js_store(key, value.c_str()); }

bool web_stored(const char* key, std::string* value) {
    char* text = web_js_stored(key);
    if (!text) return false;
    *value = web_take_string(text);
    return true;
}

void web_show_link(const std::string& link) { web_js_show_link(link.c_str()); }
void web_set_leave_question(int32_t on) { web_js_leave_question(on); }

// ---- The loop

extern "C" EMSCRIPTEN_KEEPALIVE void web_animation_frame() {
    if (web_frame) web_frame();
}

// Milliseconds until the next step is due (0: now), for the page to wake the loop between two animation frames.
extern "C" EMSCRIPTEN_KEEPALIVE int32_t web_step_wait() { return os_frame_due(); }

extern "C" EMSCRIPTEN_KEEPALIVE void web_leaving() {
    if (web_leave) web_leave();
}

void web_run_frames(void (*frame)(), void (*leaving)()) {
    web_frame = frame;
    web_leave = leaving;
    web_js_run_frames();
}

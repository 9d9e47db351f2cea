// Headless platform backend used by the tests in place of the SDL2 one. Main thread only.
#include "headless.h"
#include "os_midi.h"

#include "graph.h"
#include "os_platform.h"
#include "os_tools.h"

#include <cstring>
#include <deque>

int64_t hl_counter;
int64_t hl_counter_freq = 1000000;
bool hl_sleep_advances = true;
int32_t hl_sleeps;
std::vector<int32_t> hl_waits;

uint32_t hl_window[900 * 520];
bool hl_window_open;
bool hl_window_fail;
int32_t hl_presents;
int32_t hl_present_x0, hl_present_y0, hl_present_x1, hl_present_y1;

std::string hl_open_answer;
std::string hl_save_answer;
int hl_save_type = OS_FILE_MODULE;
int32_t hl_dialogs;
std::string hl_dialog_dir;
std::string hl_dialog_name;
int32_t hl_message_boxes;
std::string hl_message_text, hl_message_caption;
std::function<void()> hl_on_modal;
int hl_ask_answer = OS_ANSWER_DISCARD;
bool hl_dialogs_pending;
int32_t hl_questions;
std::string hl_question_text, hl_question_caption;
std::string hl_title;
int32_t hl_titles;

static std::deque<std::function<int()>> hl_events; // pending input; each returns 1 for the quit event

// The tests host the engine as the tracker does: log lines on standard output, a stop when memory runs out.
static const bool hl_hooks_set = [] {
    os_use_process_hooks();
    return true;
}();

void hl_set_time_ms(int64_t ms) { hl_counter = ms * hl_counter_freq / 1000; }
void hl_advance_ms(int64_t ms) { hl_counter += ms * hl_counter_freq / 1000; }

void hl_push_key(int32_t vk, bool down) {
    hl_events.push_back([vk, down] {
        os_set_key(os_key_from_vk(vk), down ? 1 : 0);
        return 0;
    });
}

void hl_push_mouse_move(int32_t x, int32_t y) {
    hl_events.push_back([x, y] {
        os_mouse_x = x;
        os_mouse_y = y;
        return 0;
    });
}

void hl_push_mouse_button(bool down) {
    hl_events.push_back([down] {
        os_mouse_down = down ? 1 : 0;
        return 0;
    });
}

void hl_push_quit() {
    hl_events.push_back([] { return 1; });
}

void hl_push_call(std::function<void()> fn) {
    hl_events.push_back([fn] {
        fn();
        return 0;
    });
}

int32_t hl_pending_events() { return (int32_t)hl_events.size(); }

void hl_reset() {
    hl_counter = 0;
    hl_counter_freq = 1000000;
    hl_sleep_advances = true;
    hl_sleeps = 0;
    hl_waits.clear();
    hl_events.clear();
    memset(hl_window, 0, sizeof hl_window);
    hl_window_open = false;
    hl_window_fail = false;
    hl_presents = 0;
    hl_present_x0 = hl_present_y0 = hl_present_x1 = hl_present_y1 = 0;
    hl_open_answer.clear();
    hl_save_answer.clear();
    hl_save_type = OS_FILE_MODULE;
    hl_dialogs = 0;
    hl_dialog_dir.clear();
    hl_dialog_name.clear();
    hl_message_boxes = 0;
    hl_message_text.clear();
    hl_message_caption.clear();
    hl_on_modal = nullptr;
    hl_ask_answer = OS_ANSWER_DISCARD;
    hl_dialogs_pending = false;
    hl_questions = 0;
    hl_question_text.clear();
    hl_question_caption.clear();
    hl_title = "QuavloII";
    hl_titles = 0;
    hl_midi_api = 0;
    hl_midi_opens = 0;
    hl_midi_open_result = 1;
    hl_midi_ports.clear();
    os_midi_forget();
    os_midi_take_dropped();
    os_clear_keys();
    os_last_key = 0;
    os_mouse_x = os_mouse_y = os_mouse_down = 0;
}

int64_t os_counter() { return hl_counter; }
int64_t os_counter_freq() { return hl_counter_freq; }

void os_sleep_1ms() {
    hl_sleeps++;
    if (hl_sleep_advances) hl_advance_ms(1);
}

// A pending event ends the wait at once; the scripted events stand for input arriving 1 ms apart.
void os_wait_event(int32_t timeout_ms) {
    hl_waits.push_back(timeout_ms);
    if (hl_sleep_advances) hl_advance_ms(hl_events.empty() ? timeout_ms : 1);
}

int os_poll_event() {
    if (hl_events.empty()) return 0;
    auto ev = hl_events.front();
    hl_events.pop_front();
    return ev();
}

int32_t os_init_window(g_display_info* display) {
    os_log("PLATFORM HEADLESS\n");
    OS_ASSERT(display != nullptr);
    OS_ASSERT(os_alloc_count == 0);
    if (hl_window_fail) {
        hl_window_fail = false;
        return 0;
    }
    hl_window_open = true;
    os_create_dib(display ? display->window_width : G_WIDTH, display ? display->window_height : G_HEIGHT);
    return 1;
}

void os_create_dib(int32_t, int32_t) { memset(hl_window, 0, sizeof hl_window); }

void os_destroy_dib() {}

void os_release_window() { hl_window_open = false; }

void os_present(int32_t width, int32_t height) {
    OS_ASSERT(g_display.initialised);
    const g_rect r = g_frame;
    if (r.min_x >= r.max_x || r.min_y >= r.max_y || !g_composite) return;
    OS_ASSERT(width == G_WIDTH && height == G_HEIGHT);
    for (int32_t y = r.min_y; y < r.max_y; y++)
        memcpy(&hl_window[y * G_WIDTH + r.min_x], &g_composite[y * G_WIDTH + r.min_x], (size_t)(r.max_x - r.min_x) * 4);
    hl_presents++;
    hl_present_x0 = r.min_x;
    hl_present_y0 = r.min_y;
    hl_present_x1 = r.max_x;
    hl_present_y1 = r.max_y;
}

static int hl_answer(const std::string& answer, char* path, int32_t capacity) {
    hl_dialogs++;
    if (hl_on_modal) hl_on_modal();
    if (hl_dialogs_pending) return OS_DIALOG_PENDING;
    if (answer.empty() || capacity <= 0) return 0;
    if ((int32_t)answer.size() >= capacity) return -1;
    memcpy(path, answer.c_str(), answer.size() + 1);
    return 1;
}

int os_open_dialog(char* path, int32_t capacity, const char* start_dir) {
    hl_dialog_dir = start_dir ? start_dir : "";
    hl_dialog_name.clear();
    return hl_answer(hl_open_answer, path, capacity);
}

int os_save_dialog(char* path, int32_t capacity, int* file_type, const char* start_dir, const char* name) {
    hl_dialog_dir = start_dir ? start_dir : "";
    hl_dialog_name = name ? name : "";
    int chosen = hl_answer(hl_save_answer, path, capacity);
    if (chosen > 0 && file_type) *file_type = hl_save_type;
    return chosen;
}

void os_message_box(const char* text, const char* caption) {
    hl_message_boxes++;
    hl_message_text = text ? text : "";
    hl_message_caption = caption ? caption : "";
    if (hl_on_modal) hl_on_modal();
}

int os_ask_save_changes(const char* text, const char* caption) {
    hl_questions++;
    hl_question_text = text ? text : "";
    hl_question_caption = caption ? caption : "";
    if (hl_on_modal) hl_on_modal();
    return hl_dialogs_pending ? OS_DIALOG_PENDING : hl_ask_answer;
}

void os_set_title(const char* title) {
    hl_titles++;
    hl_title = title ? title : "";
}

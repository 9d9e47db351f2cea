// What the portable code needs from a platform backend, and the frame clock and input state the backends and the
// program share. Exactly one backend is linked into each program: the SDL2 one (platform/sdl/) or the Win32 one
// (platform/win32/) for the tracker, the headless one for tests (tests/support/). No native type appears here.
#pragma once
#include <cstdint>

struct g_display_info;

// Key indices of the polled key table.
enum : int32_t {
    KEY_LEFT = 1,
    KEY_RIGHT = 2,
    KEY_UP = 3,
    KEY_DOWN = 4,
    KEY_DELETE = 5,
    KEY_BACKSPACE = 8,
    KEY_RETURN = 13,
    KEY_ESCAPE = 27,
    KEY_SPACE = 32,
    KEY_SHIFT = 245,
    KEY_CTRL = 246,
    KEY_F9 = 247,
    KEY_F8 = 248,
    KEY_F7 = 249,
    KEY_F6 = 250,
    KEY_F5 = 251,
    KEY_F4 = 252,
    KEY_F3 = 253,
    KEY_F2 = 254,
    KEY_F1 = 255,
};

// Windows virtual-key codes that the backends translate native keys into (see os_key_from_vk).
enum : int32_t {
    VK_BACK = 8,
    VK_TAB = 9,
    VK_CLEAR = 12,
    VK_RETURN = 13,
    VK_SHIFT = 16,
    VK_CONTROL = 17,
    VK_ESCAPE = 27,
    VK_SPACE = 32,
    VK_PRIOR = 33,
    VK_NEXT = 34,
    VK_END = 35,
    VK_HOME = 36,
    VK_LEFT = 37,
    VK_UP = 38,
    VK_RIGHT = 39,
    VK_DOWN = 40,
    VK_INSERT = 45,
    VK_DELETE = 46,
    VK_NUMPAD0 = 96,
    VK_DECIMAL = 110,
    VK_F1 = 112,
    VK_F12 = 123,
};

// ---- Input state (platform.cpp), written by the backend's event handling, read by the application.
extern uint16_t os_keys[256];   // per key index: 0 up, 1 in the first step after a press, then counting 1..254
extern uint8_t os_keys_held;    // key indices currently recorded as held
extern int32_t os_last_key;     // key index of the most recent new press; the application clears it
extern uint32_t os_key_presses; // new presses so far (each sets os_last_key): the loop sees one arrive
extern int32_t os_mouse_x;      // pointer x in window pixels
extern int32_t os_mouse_y;      // pointer y in window pixels
extern int32_t os_mouse_down;   // 1 while the left button is down

// ---- Frame clock state (platform.cpp), main thread only.
extern int32_t os_frames;     // -1 before start-up, then steps since the last FPS line
extern uint16_t os_step_ms;   // length of a step in ms; the application sets 25
extern uint32_t os_clock;     // ms accumulated from 16-bit clock deltas
extern uint32_t os_next_step; // os_clock value at which the next step is due
extern uint32_t os_next_fps;  // os_clock value at which the next FPS line is due
extern uint16_t os_time_now;  // low 16 bits of os_time_ms at the latest reading of the frame clock
extern uint16_t os_time_prev; // the reading before

// ---- Window scale (os_window.cpp), main thread. The entry point sets the request before the program starts; the
// backend applies it when it creates the window. The frame and everything drawn into it stay 900 x 520.
constexpr int32_t OS_MAX_SCALE = 3;      // largest window scale
constexpr int32_t OS_PANEL_ROOM_X = 40;  // room left beside a fitted window for borders and side panels
constexpr int32_t OS_PANEL_ROOM_Y = 100; // room left above and below it for the title bar and panels
extern int32_t os_window_scale;          // requested scale 1..OS_MAX_SCALE, 0 = the largest that fits the display

// "1".."3" as a scale; 0 for anything else.
int32_t os_parse_scale(const char* text);
// The largest scale at which the window fits a display area of this size with room for panels; at least 1.
int32_t os_fit_scale(int32_t usable_width, int32_t usable_height);
// A pointer position in window units as a frame pixel: window units to output pixels (output_size per
// window_size), minus the picture's offset in output pixels, divided by the picture's enlargement.
int32_t os_window_to_frame(int32_t position, int32_t window_size, int32_t output_size, int32_t offset, int32_t factor);

int32_t os_time_ms(); // milliseconds from the monotonic counter (os_clock.cpp)

// ---- The program's process (os_process.cpp). Hands the sound engine its host hooks: log lines to standard output
// (and os_log_debugger), a stop with a message when memory runs out, files synced to the disk. Called first thing by
// every program of the tracker's (the tracker, quavlo-cli, the tests' support).
void os_use_process_hooks();
// A copy of each log line for the debugger, set by a backend's entry point that has one; null: none.
extern void (*os_log_debugger)(const char* line);

// ---- The frame clock (platform.cpp). The host owns the loop: it calls os_frame_start, starts the program,
// calls os_frame_started, and from then on asks os_frame_due whether a step is due; when it is, the host runs the
// step (events taken, update, draw, present) and calls os_frame_done. Steps are os_step_ms apart; a late step
// delays the later ones.
void os_frame_start();   // before the program's start-up: keys free, clock at 0, the first step due at once
void os_frame_started(); // after the start-up, whose time is not counted
// Reads the clock: 0 when a step is due now, otherwise the milliseconds until it is due (1..1000).
int32_t os_frame_due();
void os_frame_done(); // after a step: the next one is due os_step_ms from now; FPS line, held-key counters
// Records a press or release. A key pressed and released before a step has seen it stays pressed (reading 1)
// until the end of that step, so even the quickest tap counts exactly once.
int32_t os_set_key(int32_t index, int32_t down);
int32_t os_key_from_vk(int32_t vk); // virtual-key code -> key index before the fold of 97..122
// The virtual-key code of a physical key named as a browser's KeyboardEvent.code names it ("KeyQ", "Digit2",
// "F5", "Numpad7", "ShiftLeft"): letters and digits by their place on a US keyboard, whatever the layout prints on
// them, keypad digits as with Num Lock on; 0 for a key the program does not know (os_key_codes.cpp).
int32_t os_vk_from_code(const char* code);
// The keypad's virtual-key code as Windows gives it: with Num Lock off, digits 0..9 and the decimal point are
// Insert, End, Down, Page Down, Left, Clear, Right, Home, Up, Page Up and Delete; with Num Lock on, unchanged.
int32_t os_keypad_vk(int32_t vk, int32_t num_lock);
// End of a step: counters of held keys advance, keys released since the last step become free.
void os_advance_keys();
// Every key free at once, taps included (the window lost the keyboard, or a modal dialog had it).
void os_clear_keys();

// ---- Provided by the backend.
int64_t os_counter();      // monotonic counter
int64_t os_counter_freq(); // counts per second, 0 when no counter exists
void os_sleep_1ms();
// Takes and handles at most one pending event. Returns OS_EVENT_CLOSE when the window is asked to close (the
// application may ask about unsaved work, and refuse), OS_EVENT_END when the program must end without asking (a
// termination signal), otherwise OS_EVENT_NONE.
enum { OS_EVENT_NONE = 0, OS_EVENT_CLOSE = 1, OS_EVENT_END = 2 };
int os_poll_event();

int32_t os_init_window(g_display_info* display); // window with a 900 x 520 client area; 1 when ready
void os_create_dib(int32_t width, int32_t height);
void os_destroy_dib();
void os_release_window();                       // drops the window's drawing context at display shut-down
void os_present(int32_t width, int32_t height); // copies the frame rectangle of g_composite to the window

enum { OS_FILE_MODULE = 1, OS_FILE_HEADER = 2 };
constexpr int32_t OS_PATH_CHARS = 4096; // room for the longest path a file dialog returns, terminator included
// Modal file dialogs; 1 and the chosen path when a file was chosen, 0 when none was, -1 when one was chosen whose
// path does not fit into capacity. Both start in start_dir (null or empty: the working directory). The save
// dialog offers the file name name (null or empty: none) and asks itself before an existing file is replaced.
int os_open_dialog(char* path, int32_t capacity, const char* start_dir);
int os_save_dialog(char* path, int32_t capacity, int* file_type, const char* start_dir, const char* name);
void os_message_box(const char* text, const char* caption);
// Modal question before unsaved work would be discarded: Save (the default, Return), Discard, or Cancel (Escape).
enum { OS_ANSWER_CANCEL = 0, OS_ANSWER_SAVE = 1, OS_ANSWER_DISCARD = 2 };
int os_ask_save_changes(const char* text, const char* caption);
// A backend that cannot wait for the user (a browser's page, whose thread must never block) only starts the
// dialogs and the question above: they return OS_DIALOG_PENDING at once, and the host hands the answer to the
// application when it comes (app_dialog_answered). The native backends wait and never return it.
constexpr int OS_DIALOG_PENDING = -2;
// Sets the window's title text.
void os_set_title(const char* title);
// Waits until a window event is pending or timeout_ms milliseconds have passed, whichever comes first.
void os_wait_event(int32_t timeout_ms);

// What the browser's page offers the web entry point beyond the backend interface (os_platform.h): the answers of
// the page's dialogs, files dropped on it, song links, downloads, the page's storage, the clipboard and the
// leave-page question, and the frame loop on the browser's animation frames. Also the key translation that its
// tests run natively. Only the web backend, its entry point and its tests include this header.
#pragma once
#include <cstdint>
#include <string>

// ---- Keys (keys_web.cpp, portable)

// One keydown (down 1) or keyup (down 0) of the page: code and key as KeyboardEvent gives them. Presses with Alt
// or Meta held and auto-repeats never reach the key table; a release frees what its press recorded. Returns 1
// when the tracker takes the key (the browser's own action for it is prevented), 0 when the browser keeps it.
int32_t web_key_event(const char* code, const char* key, int32_t alt_held, int32_t meta_held, int32_t down,
                      int32_t repeat);
// Every key free at once (the page lost the keyboard).
void web_release_keys();

// ---- The page (platform_web.cpp)

// Where the page's dialogs put files: a file chosen in the open dialog or dropped on the page is written into
// WEB_PICKED_DIR, the file named in the save dialog goes to WEB_DOWNLOAD_DIR and becomes a download once written.
constexpr const char* WEB_PICKED_DIR = "/picked";
constexpr const char* WEB_DOWNLOAD_DIR = "/downloads";

// The answer to the dialog or question last started, once the musician has given it (see OS_DIALOG_PENDING):
// true with the answer (OS_ANSWER_* or the dialog's result), the chosen path and the file type.
bool web_take_answer(int* answer, std::string* path, int* file_type);
// A file dropped on the page, already written to WEB_PICKED_DIR: true with its path.
bool web_take_dropped(std::string* path);
// The page's fragment when it was opened, and each time it changes: true with the new fragment ("#qvl=...").
bool web_take_fragment(std::string* fragment);
// The page's address without its fragment.
std::string web_page_address();
// Forgets the page's fragment without reloading it (so that a reload restores the song kept, not the link's).
void web_clear_fragment();
// Hands the file at path to the browser as a download named name, then removes it. False when it is not there.
bool web_download(const char* path, const char* name);
// The page's storage: a value kept under key (replaced), and read back.
void web_store(const char* key, const std::string& value);
bool web_stored(const char* key, std::string* value);
// Copies the link to the clipboard and shows it on the page.
void web_show_link(const std::string& link);
// The browser asks before the page is left (closed, reloaded, navigated away) while on is 1.
void web_set_leave_question(int32_t on);
// Milliseconds from the page's clock.
double web_now_ms();
// Calls frame for every animation frame of the browser (and between two of them when a step falls due before the
// next), and about ten times a second while the page is hidden (when the browser gives it no animation frames):
// the program's loop; and leaving as the page is about to be left, before the browser decides whether to ask.
// Returns at once.
void web_run_frames(void (*frame)(), void (*leaving)());

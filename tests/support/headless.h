// Headless platform for tests: a scripted clock, a queue of input events, a 900 x 520 pixel buffer standing in
// for the window, and scripted answers for the file dialogs, the message box and the save question.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

extern int64_t hl_counter;            // the performance counter's value
extern int64_t hl_counter_freq;       // counts per second; 0 simulates a machine without a counter
extern bool hl_sleep_advances;        // os_sleep_1ms moves the clock on by 1 ms; os_wait_event by its timeout when no
                                      // event is pending
extern int32_t hl_sleeps;             // os_sleep_1ms calls so far
extern std::vector<int32_t> hl_waits; // the timeout of every os_wait_event call so far

extern uint32_t hl_window[900 * 520]; // the window's client area as presented
extern bool hl_window_open;           // os_init_window succeeded and the window exists
extern bool hl_window_fail;           // make the next os_init_window fail
extern int32_t hl_presents;           // os_present calls that copied something
extern int32_t hl_present_x0, hl_present_y0, hl_present_x1, hl_present_y1; // last presented rectangle

extern std::string hl_open_answer;                        // path the open dialog returns, empty = cancelled
extern std::string hl_save_answer;                        // path the save dialog returns, empty = cancelled
extern int hl_save_type;                                  // file type the save dialog returns
extern int32_t hl_dialogs;                                // dialogs shown
extern std::string hl_dialog_dir;                         // the directory the last dialog was to start in
extern std::string hl_dialog_name;                        // the file name the last save dialog offered
extern int32_t hl_message_boxes;                          // message boxes shown
extern std::string hl_message_text, hl_message_caption;   // the last message box
extern std::function<void()> hl_on_modal;                 // called while a dialog or message box is open
extern int hl_ask_answer;                                 // the save question's answer; Discard unless a test sets it
extern bool hl_dialogs_pending; // the dialogs and the question only start, as on a browser's page: they return
                                // OS_DIALOG_PENDING and the test answers with app_dialog_answered
extern int32_t hl_questions;                              // save questions asked
extern std::string hl_question_text, hl_question_caption; // the last save question
extern std::string hl_title;                              // the window's title as last set
extern int32_t hl_titles;                                 // os_set_title calls

extern int32_t hl_midi_api;                    // MIDI input the tracker opened (OS_MIDI_*), OS_MIDI_OFF when closed
extern int32_t hl_midi_opens;                  // os_midi_open calls
extern int32_t hl_midi_open_result;            // what os_midi_open and os_midi_list answer: 1 a system, 0 none
extern std::vector<std::string> hl_midi_ports; // the ports os_midi_list names

// Moves the scripted clock to ms milliseconds after its zero.
void hl_set_time_ms(int64_t ms);
void hl_advance_ms(int64_t ms);

// Queues input for os_poll_event, which takes one per call.
void hl_push_key(int32_t vk, bool down); // a key by its virtual-key code
void hl_push_mouse_move(int32_t x, int32_t y);
void hl_push_mouse_button(bool down);
void hl_push_quit();
void hl_push_call(std::function<void()> fn); // runs fn when taken, as an event
int32_t hl_pending_events();

// Back to the state of a freshly started process: clock, events, window, dialogs and input state.
void hl_reset();
// Also puts the frame loop back to "not started" (links the loop, which needs the application hooks).
void hl_reset_loop();

// The tracker application's state block and the functions its modules share: start-up and shut-down
// (app.cpp), the editor (editor.cpp), the screen (screen.cpp) and the file commands (file_commands.cpp).
// Main thread only; the song, its patterns and the voices are also read by the audio thread, so the main
// thread touches them with audio_lock held (app_lock / app_unlock).
#pragma once
#include "audio.h"
#include "graph.h"
#include "os_platform.h"
#include "sound.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// An on-screen button: its rectangle, its label and how many interface redraws it has been held down for.
struct ui_button {
    int32_t x, y;          // top-left corner in screen pixels
    int32_t width, height; // size in pixels
    const char* label;     // constant text shown centred on it
    int32_t press_frames;  // consecutive redraws with the mouse button down inside it; 0 = not pressed
};

// Where the musician is working, and what must be redrawn.
struct app_editor {
    int32_t cursor_col;    // cursor column 0..19: channel * 5 + field
    int32_t cursor_row;    // cursor row 0..63
    int32_t half_entered;  // 1 after the first digit of a two-digit field
    uint8_t last_param;    // value last written into a parameter field
    uint8_t cur_sample;    // sample that note entry writes and previews with
    uint8_t cur_octave;    // base octave of note entry, 0..9
    uint8_t status_dirty;  // the interface layer must be redrawn
    uint8_t pattern_dirty; // the pattern layer must be redrawn
    uint8_t present_flag;  // set by the first drawing; from then on every step presents
    uint8_t edit_mode;     // 1: typed notes and values go into the pattern; 0: notes are only previewed
    int32_t edit_step;     // rows the cursor moves down after a note, a note cut or a single digit is written, 0..8
    uint8_t midi_velocity; // 1: a MIDI note's velocity is also written into the volume field (Ctrl+K); 0 at start
    int32_t sel_col;       // selection anchor column (first column of a channel), -1 = none
    int32_t sel_row;       // selection anchor row, -1 = none
    int32_t clip_col;      // copied block: first column
    int32_t clip_col_end;  // copied block: first column after the block
    int32_t clip_row;      // copied block: first row
    int32_t clip_row_end;  // copied block: last row (inclusive)
    int32_t clip_pattern;  // pattern the block was copied from
};

// File commands that may wait for the musician: which one is on its way and what it does next.
enum : int32_t { APP_JOB_NONE, APP_JOB_NEW, APP_JOB_LOAD, APP_JOB_LOAD_FILE, APP_JOB_SAVE, APP_JOB_QUIT };
enum : int32_t { APP_STAGE_QUESTION, APP_STAGE_SAVE_DIALOG, APP_STAGE_OPEN_DIALOG, APP_STAGE_FINISH };
struct app_file_job {
    int32_t command;          // APP_JOB_*: the command on its way, APP_JOB_NONE when none is
    int32_t stage;            // APP_STAGE_*: what it does next
    uint8_t waiting;          // 1 while the dialog or question of its stage is open (a backend that cannot wait)
    uint8_t written;          // the song was written to a file on the way
    uint8_t quit;             // closing: the program may end
    char path[OS_PATH_CHARS]; // APP_JOB_LOAD_FILE: the file to load
};

struct app_state {
    snd_song song;          // the one song being edited and played (player slot 0)
    ui_button btn_load;     // LOAD button
    ui_button btn_save;     // SAVE button
    ui_button btn_new;      // NEW button
    ui_button btn_wav;      // WAV button; its label "WAV" or "STOP" is the capture's state
    g_font font_large;      // 16 x 10 font for rows, fields and buttons
    g_font font_large2;     // the same again, used for the cursor field in edit mode
    g_font font_small;      // 8 x 10 font for the status lines and the order list
    g_image glyph_strip_2x; // glyph strip doubled horizontally, under the large fonts
    g_image glyph_strip_1x; // glyph strip as decoded, under the small font
    g_image logo_image;     // title picture, 512 x 50
    app_editor editor;      // cursor, sample, octave, redraw flags, selection, copied block
    char song_name[256];    // file (without directory) the song was last loaded from or saved to; "" for a new one
    char song_dir[OS_PATH_CHARS]; // directory of the song last loaded or saved, where the dialogs start; "" at first
    uint8_t title_changed;        // the window title carries the unsaved-changes mark
    uint8_t title_stale;          // song_name changed since the window title was last set
    uint8_t help_open;            // the help screen is shown over the grid (F9)
    uint8_t help_drawn;           // what the help layer shows: 1 the help screen, 0 nothing
    app_file_job job;             // the file command on its way, and the dialog it waits for
};

// The tracker's start-up, step and shut-down, and the loop the native entry points run (app.cpp).
void app_init();
void app_update();
void app_draw_interface();
void app_draw_pattern_view();
void app_draw_help();   // the help screen's layer, when it was opened or closed (help.cpp)
int app_present_flag(); // non-zero once the screen has been drawn: every step then ends with g_flip
int app_confirm_quit(); // the window is asked to close: 1 when the program may end, 0 to keep running
void app_shutdown();
// The display is gone for good and the process is about to end (exit status 1): a running capture is finished and
// the sound system stopped, its threads ended before anything they wait on goes away. Nothing is drawn or asked, and
// unsaved changes are not written anywhere: no file is overwritten unasked.
void app_display_lost();
void app_start(); // the frame clock started around app_init
// One pass of a host's loop: the step (update, drawing, presentation) when it is due; otherwise, when the host may
// wait, a wait for the next window event until the step falls due.
void app_frame(bool may_wait);
// The native entry points' loop: start-up, then frames alternating with at most one window event each, until the
// window is closed (and app_confirm_quit agrees) or a termination signal ends the program; then app_shutdown.
void app_run();

extern app_state app;              // the application's state; main thread
extern int32_t status_pattern;     // the song's current pattern as of the last interface drawing, -1 at start
extern int32_t status_order_pos;   // the song's order position as of the last interface drawing, -1 at start
extern const char* app_start_file; // module named on the command line, loaded by app_init; null for none
// The share key (F12) was pressed: the song's module bytes, for a host that can pass songs on as links (the
// browser's page sets it); null: the key does nothing.
extern void (*app_share_module)(const uint8_t* data, int32_t size);
constexpr int32_t KEY_SHARE = 123; // F12's key index

// The lock between the editor and the audio thread. app_lock/app_unlock count how deep the main thread holds
// it, so that a modal dialog can release it completely and take it back to the same depth.
void app_lock();
void app_unlock();
int32_t app_release_lock();             // releases every level held; returns how many there were
void app_reacquire_lock(int32_t depth); // takes the lock again that many times

// Screen (screen.cpp)
void app_draw_button(ui_button* b);
int32_t app_draw_field(int32_t j, uint8_t value, uint8_t flags, int32_t x, int32_t y, int32_t cursor, uint32_t colour);

// Notes heard the moment they are played (editor.cpp). The loop takes each event through app_poll_event, which
// starts a typed note's preview at once; any other source of notes (MIDI) calls app_preview_now from the main loop
// right after its event arrives, and the step that writes the note calls app_preview_note, which does not start a
// preview that app_preview_now started since the last step again. The sound and the cell are the same as when the
// step alone plays the note, only earlier: the cell, undo and the editor's state still change in the step.
//
// Takes one pending event (os_poll_event, whose result it returns); when it was a new press of a note key that the
// next step will play as it stands, the note's preview starts now. Main thread, between steps.
int app_poll_event();
// The same for a host whose events arrive in callbacks of their own (the browser): after them, a new press of a note
// key that the next step will play as it stands starts its preview now.
void app_sound_typed_note();
// Starts the preview of note (octave * 16 + semitone) on channel 0..3 now, as the step would: the current sample,
// the effect of the cursor's row. Takes audio_lock for the moment. Main thread.
void app_preview_now(int32_t channel, uint8_t note);
// The step's preview of a note it writes or plays: starts it unless app_preview_now started the same note on the
// same channel, row and sample since the last step. With audio_lock held, in the step.
void app_preview_note(snd_pattern* p, int32_t channel, uint8_t note);

// Editor helpers (editor.cpp), with audio_lock held.
snd_pattern* app_current_pattern(); // the song's current pattern, null when the song has none there
void app_paste();
void app_unpin_channels(); // every channel of player slot 0 shows and plays the current pattern again
constexpr int32_t APP_MAX_EDIT_STEP = 8;
// A note byte (octave * 16 + semitone) moved by semitones; a note that would leave C-0..B-9, and a byte that
// is no note of that range, comes back as it was.
uint8_t app_transpose_note(uint8_t note, int32_t semitones);
// A note from any input, with audio_lock held inside an editor step: what a typed note key does. The note (octave
// * 16 + semitone) plays on the cursor's channel with the current sample; in edit mode it is written with the
// sample into the cursor's row of that channel, with volume (0..15) into the volume field unless it is -1, and the
// cursor moves down by the edit step.
void app_note_input(uint8_t note, int32_t volume);
// Moves the notes of the selection (rows and channels), or of the cursor's whole channel when nothing is
// selected, in the current pattern by semitones.
void app_transpose(int32_t semitones);

// MIDI input (midi_input.cpp), main thread.
extern int32_t app_midi_api; // the system MIDI input is opened with (OS_MIDI_*), set by the entry point; off at first
void app_open_midi();        // starts MIDI input with app_midi_api, after the start-up
void app_close_midi();       // stops it, before the shut-down
// Takes every MIDI note-on that arrived since the last call and plays it with app_midi_note. The native loop calls
// it right after each window event.
void app_poll_midi();
// One MIDI note-on: a key of 12 (C-0) up to the highest note the tracker has plays and writes what the typed
// note key would; other keys are ignored. With the velocity option on, velocity also goes into the volume field.
// Takes audio_lock and makes its own undo step. Ignored while the help screen is open.
void app_midi_note(int32_t key, int32_t velocity);
// The note byte of MIDI key (MIDI 12 is C-0), or -1 for a key outside C-0..B-9.
int32_t app_midi_key_note(int32_t key);
// The volume digit of a velocity 1..127: 1..15, rounded up.
int32_t app_midi_velocity_volume(int32_t velocity);
void app_toggle_midi_velocity(); // Ctrl+K: the velocity option on / off

// File commands (file_commands.cpp), with audio_lock held: each runs to completion.
void app_file_new();
void app_file_load();
// Replaces the song with the module in the file at path, as LOAD does once a file is chosen. Returns 0, with the
// song unchanged, when the file does not give a usable song.
int app_load_file(const char* path);
// Shows the "Can not load" box when the module named at start-up could not be loaded, once the first frame is on
// the screen, so that the box opens over the tracker's picture. Called at the start of each update.
void app_report_start_file();
// Shows the "No audio device" box once, when the sound device did not open at start-up and still is not open, once
// the first frame is on the screen. Called at the start of each update.
void app_report_no_device();
// Shows an "ERROR" message box with audio_lock released; input that reached the window meanwhile is forgotten.
void app_show_message(const char* text);
int app_file_save(); // 1 when the song was written to a file (by now: not while its dialog is still open)
// LOAD of a file already chosen (dropped on the page, or the song of a link): the save question first, then the
// file replaces the song, or "Can not load". False when another command is still waiting for its dialog.
bool app_file_load_from(const char* path);
// A command waits for a dialog or the question that the backend could not wait for (OS_DIALOG_PENDING); the
// editor takes no input meanwhile.
bool app_dialog_waiting();
// The answer to the dialog or question the command waits for: the question's answer (OS_ANSWER_*) or the
// dialog's result (1 chosen, 0 cancelled, -1 a path too long) with the chosen path and, for SAVE, the file type.
// The command goes on from there. Nothing happens when no command waits.
void app_dialog_answered(int answer, const char* path, int file_type);
void app_file_wav();
// Ends the WAV capture, if one runs: the audio thread stops handing blocks over, and the blocks still queued are
// written with the lock released. Nothing happens without a capture.
void app_end_capture();
// After a capture ended because "song.wav" could not be written (disk full, I/O error): the WAV button reads "WAV"
// again and the "Can not save" box is shown, once per failed capture. Called at the start of each update.
void app_report_wav_failure();
void app_show_title(); // the window title names the song's file and marks unsaved changes
// The share key: the song's module bytes go to app_share_module, when the host has set it.
void app_share_song();

// Song links (song_link.cpp): the fragment APP_LINK_MARK and the module bytes, raw DEFLATE in base64url.
constexpr const char* APP_LINK_MARK = "#qvl=";
constexpr size_t APP_LINK_MAX_BYTES = 512 * 1024; // more than the longest module the reader can use
// The fragment that carries these module bytes.
std::string app_link_fragment(const uint8_t* module, int32_t size);
// The module bytes a fragment carries: 1 with the bytes, 0 when the fragment is no song link (empty, or another
// fragment), -1 when it is one whose bytes cannot be read back (then *module is empty).
int app_link_module(const char* fragment, std::vector<uint8_t>* module);

// Command line (command_line.cpp), read by the entry point before the frame loop starts.
enum { APP_CMD_RUN = 0, APP_CMD_HELP = 1, APP_CMD_VERSION = 2, APP_CMD_ERROR = 3, APP_CMD_MIDI_LIST = 4 };
struct app_command_line {
    int32_t action;    // APP_CMD_*
    const char* file;  // module to open at start-up, pointing into argv; null for none
    int32_t scale;     // window scale 1..OS_MAX_SCALE, 0 = the largest that fits the display
    int32_t midi;      // MIDI input to open (OS_MIDI_*): --midi, OS_MIDI_AUTO without it
    char error[200];   // what was wrong, for APP_CMD_ERROR
    char warning[200]; // a setting that was ignored, empty when none
};
extern const char app_help_text[];    // the text of --help
extern const char app_version_text[]; // the text of --version
// Reads the arguments and the value of the QUAVLO_SCALE environment variable (null when unset); --scale wins
// over the environment.
void app_read_command_line(int argc, const char* const* argv, const char* env_scale, app_command_line* out);
// --midi list: writes the MIDI input ports the tracker would connect with the command line's choice to out (one
// line each, or a line saying there are none). Returns the exit status: 0.
int app_list_midi_ports(const app_command_line& command, FILE* out);

// Undo and redo (undo.cpp), with audio_lock held. An editor step tells what it is about to change; at its end the
// changes become one undo step. Steps hold changed bytes, order-list spans and deleted patterns, never songs.
constexpr int32_t APP_UNDO_STEPS = 256;           // steps kept at most
constexpr int32_t APP_UNDO_BUDGET = 2 << 20;      // bytes the steps may hold; the oldest go first beyond it
extern int32_t app_undo_budget;                   // APP_UNDO_BUDGET, or less for a test
void app_undo_begin();                            // a step begins: undo returns the cursor here
void app_undo_note_pattern(int32_t index);        // cells of pattern index are about to change
void app_undo_note_order();                       // the order list is about to change
void app_undo_note_add_pattern();                 // an empty pattern is about to be appended
void app_undo_note_delete_pattern(int32_t index); // pattern index is about to be deleted
void app_undo_commit();                           // the changes since the step began become one undo step
bool app_undo();                                  // takes back the last step; false when there is none
bool app_redo();                                  // does the last undone step again; false when there is none
void app_undo_clear();                            // forgets every step: the song is new or loaded, unchanged
void app_undo_mark_saved();                       // the song as it is now is kept in a file
void app_undo_mark_unsaved();                     // the song as it is now is kept in no file (restored from storage)
bool app_song_changed();                          // differs from the song as created, loaded or last saved
int32_t app_undo_depth();                         // steps that can be undone
int32_t app_redo_depth();                         // steps that can be redone
int32_t app_undo_bytes();                         // bytes the steps hold

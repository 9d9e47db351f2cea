// File dialogs of the Linux desktop backend, and the save question when SDL cannot show it, shown by an
// external program (zenity, or kdialog when zenity is missing). The command line is built, and the program's answer
// read, by plain functions that tests call directly; os_open_dialog and os_save_dialog (os_platform.h) put them
// together. Main thread only.
#pragma once
#include <cstdint>

enum { OS_DIALOG_ZENITY = 1, OS_DIALOG_KDIALOG = 2 };

constexpr int32_t OS_DIALOG_MAX_ARGS = 12;  // arguments of a dialog command, program name included
constexpr int32_t OS_DIALOG_TEXT = 8192;    // characters of all arguments together, terminators included
constexpr int32_t OS_DIALOG_OUTPUT = 4096;  // longest answer read from a dialog program
constexpr int32_t OS_DIALOG_NOT_FOUND = -1; // os_dialog_run: the program does not exist
constexpr int32_t OS_DIALOG_CANCELLED = 0;  // os_dialog_run: closed without a choice, or failed
constexpr int32_t OS_DIALOG_CHOSEN = 1;     // os_dialog_run: the program printed a choice
constexpr int32_t OS_DIALOG_TOO_LONG = 2;   // os_dialog_run: the program printed a choice longer than the buffer

// A dialog program's argument vector; argv points into text and ends with a null pointer.
struct os_dialog_command {
    char text[OS_DIALOG_TEXT]; // the arguments, each NUL-terminated, one after the other
    char* argv[OS_DIALOG_MAX_ARGS + 1];
    int32_t argc;
};

// Fills cmd with the command line of an open (save 0) or save (save 1) dialog of the given program, starting at
// start: a directory ending in '/', or for the save dialog a directory and the file name it offers (null or
// empty: the program's default). The save dialog asks before an existing file is replaced (zenity is told to;
// kdialog always does). Returns 1, or 0 when the arguments do not fit.
int os_dialog_build(os_dialog_command* cmd, int tool, int save, const char* start);

// Fills cmd with the command line of the save question (Save, Discard, Cancel) shown by the given program.
// Returns 1, or 0 when the arguments do not fit.
int os_question_build(os_dialog_command* cmd, int tool, const char* text, const char* caption);

// Asks the save question with zenity or kdialog, for when SDL cannot show a message box. Returns an
// OS_ANSWER_*, or -1 when neither program exists.
int os_question_dialog(const char* text, const char* caption);

// Turns a dialog program's standard output into the chosen path: the output up to its final line break.
// Returns 1 with the path in path; 0 when nothing was chosen or the output holds a NUL; -1 when the path (with
// its terminator) does not fit into capacity, so a path is never cut short.
int os_dialog_answer(const char* output, int32_t length, char* path, int32_t capacity);

// File type of a path chosen in the save dialog: a name ending in ".h" (any case) is OS_FILE_HEADER; a name
// without an extension gets ".qvl" appended and is OS_FILE_MODULE; any other name is OS_FILE_MODULE.
// Returns 0 (path unchanged) when ".qvl" does not fit into capacity.
int os_dialog_save_type(char* path, int32_t capacity);

// Where a dialog starts, as os_dialog_build takes it: start_dir made absolute against cwd (the working directory
// when start_dir is null or empty), with a trailing '/', then name when there is one. Returns 1, or 0 (start
// empty) when it does not fit into capacity or cwd is not absolute.
int os_dialog_start(char* start, int32_t capacity, const char* cwd, const char* start_dir, const char* name);

constexpr int32_t OS_DIALOG_IDLE_MS = 40; // os_dialog_run: longest wait between two calls of its idle function

// Starts argv[0] (searched on PATH, no shell) with standard input and error on /dev/null, collects its standard
// output into output (at most capacity bytes) and waits for it, calling idle (when given) whenever the program
// has been quiet for OS_DIALOG_IDLE_MS, and stores its exit status in exit_status (when given; -1 when it did
// not exit normally). Returns OS_DIALOG_CHOSEN when it exited with status 0 and its whole output fitted,
// OS_DIALOG_TOO_LONG when it exited with status 0 but printed more, OS_DIALOG_NOT_FOUND when the program does
// not exist, else OS_DIALOG_CANCELLED.
int os_dialog_run(char* const* argv, char* output, int32_t capacity, int32_t* length, void (*idle)() = nullptr,
                  int* exit_status = nullptr);

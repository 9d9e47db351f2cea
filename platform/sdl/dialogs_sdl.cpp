// File dialogs of the Linux desktop backend: the open and save dialogs are the desktop's own, shown by zenity
// (or kdialog when zenity is missing) started without a shell, with the chosen path read from its standard
// output. They start in the folder the application names (the working directory when it names none), and the
// save dialog asks before it replaces a file. Main thread only; the call blocks until the dialog closes, repainting the
// window where it is exposed meanwhile. Owns no state between calls.
#include "dialogs_sdl.h"

#include "os_platform.h"
#include "os_tools.h"
#include "platform_sdl.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

// Appends the argument a followed by b (b may be null) to cmd. Returns 0 when it does not fit.
static int os_dialog_add(os_dialog_command* cmd, int32_t* used, const char* a, const char* b) {
    const size_t la = strlen(a);
    const size_t lb = b ? strlen(b) : 0;
    if (cmd->argc >= OS_DIALOG_MAX_ARGS) return 0;
    if (la + lb + 1 > (size_t)(OS_DIALOG_TEXT - *used)) return 0;
    char* arg = cmd->text + *used;
    memcpy(arg, a, la);
    if (lb) memcpy(arg + la, b, lb);
    arg[la + lb] = 0;
    *used += (int32_t)(la + lb + 1);
    cmd->argv[cmd->argc++] = arg;
    cmd->argv[cmd->argc] = nullptr;
    return 1;
}

int os_dialog_build(os_dialog_command* cmd, int tool, int save, const char* start) {
    OS_ASSERT(cmd != nullptr);
    if (!cmd) return 0;
    cmd->argc = 0;
    cmd->argv[0] = nullptr;
    int32_t used = 0;
    const bool has_start = start && start[0];
    int ok = 1;
    if (tool == OS_DIALOG_ZENITY) {
        ok &= os_dialog_add(cmd, &used, "zenity", nullptr);
        ok &= os_dialog_add(cmd, &used, "--file-selection", nullptr);
        if (save) ok &= os_dialog_add(cmd, &used, "--save", nullptr);
        ok &= os_dialog_add(cmd, &used, "--modal", nullptr);
        ok &= os_dialog_add(cmd, &used, save ? "--title=Save As" : "--title=Open", nullptr);
        if (save) ok &= os_dialog_add(cmd, &used, "--confirm-overwrite", nullptr);
        if (has_start) ok &= os_dialog_add(cmd, &used, "--filename=", start);
        ok &= os_dialog_add(cmd, &used, "--file-filter=Quavlo module | *.qvl", nullptr);
        if (save) ok &= os_dialog_add(cmd, &used, "--file-filter=C header file | *.h", nullptr);
    } else if (tool == OS_DIALOG_KDIALOG) {
        ok &= os_dialog_add(cmd, &used, "kdialog", nullptr);
        ok &= os_dialog_add(cmd, &used, "--title", nullptr);
        ok &= os_dialog_add(cmd, &used, save ? "Save As" : "Open", nullptr);
        ok &= os_dialog_add(cmd, &used, save ? "--getsavefilename" : "--getopenfilename", nullptr);
        // The start is a positional argument: keep it from being read as an option.
        if (!has_start)
            ok &= os_dialog_add(cmd, &used, ".", nullptr);
        else if (start[0] == '-')
            ok &= os_dialog_add(cmd, &used, "./", start);
        else
            ok &= os_dialog_add(cmd, &used, start, nullptr);
        ok &=
            os_dialog_add(cmd, &used, save ? "*.qvl|Quavlo module\n*.h|C header file" : "*.qvl|Quavlo module", nullptr);
    } else {
        OS_ASSERT(tool == OS_DIALOG_ZENITY || tool == OS_DIALOG_KDIALOG);
        return 0;
    }
    if (!ok) {
        cmd->argc = 0;
        cmd->argv[0] = nullptr;
    }
    return ok;
}

int os_question_build(os_dialog_command* cmd, int tool, const char* text, const char* caption) {
    OS_ASSERT(cmd != nullptr && (tool == OS_DIALOG_ZENITY || tool == OS_DIALOG_KDIALOG));
    if (!cmd) return 0;
    cmd->argc = 0;
    cmd->argv[0] = nullptr;
    // Each argument is the first text followed by the second. zenity: OK is Save and the default, the extra button
    // prints its label, Cancel, Escape and closing print nothing. kdialog: exit status 0 Save, 1 Discard, 2 Cancel.
    const char* const zenity[][2] = {{"zenity", ""},
                                     {"--question", ""},
                                     {"--modal", ""},
                                     {"--no-markup", ""},
                                     {"--title=", caption},
                                     {"--text=", text},
                                     {"--ok-label=Save", ""},
                                     {"--cancel-label=Cancel", ""},
                                     {"--extra-button=Discard", ""}};
    const char* const kdialog[][2] = {{"kdialog", ""}, {"--title", ""},     {caption, ""}, {"--warningyesnocancel", ""},
                                      {text, ""},      {"--yes-label", ""}, {"Save", ""},  {"--no-label", ""},
                                      {"Discard", ""}};
    if (tool != OS_DIALOG_ZENITY && tool != OS_DIALOG_KDIALOG) return 0;
    int32_t used = 0;
    int ok = 1;
    for (const auto& arg : tool == OS_DIALOG_ZENITY ? zenity : kdialog) ok &= os_dialog_add(cmd, &used, arg[0], arg[1]);
    if (!ok) {
        cmd->argc = 0;
        cmd->argv[0] = nullptr;
    }
    return ok;
}

int os_dialog_answer(const char* output, int32_t length, char* path, int32_t capacity) {
    if (!path || capacity <= 0) return 0;
    path[0] = 0;
    if (!output || length <= 0) return 0;
    if (output[length - 1] == '\n') length--;
    if (length > 0 && output[length - 1] == '\r') length--;
    if (length == 0 || memchr(output, 0, (size_t)length)) return 0;
    if (length >= capacity) return -1;
    memcpy(path, output, (size_t)length);
    path[length] = 0;
    return 1;
}

int os_dialog_save_type(char* path, int32_t capacity) {
    if (!path || capacity <= 0) return 0;
    const char* end = (const char*)memchr(path, 0, (size_t)capacity);
    OS_ASSERT(end != nullptr);
    if (!end) return 0;
    const int32_t length = (int32_t)(end - path);
    const char* slash = strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    if (!name[0]) return 0; // a directory, not a file
    if (length >= 2 && path[length - 2] == '.' && (path[length - 1] == 'h' || path[length - 1] == 'H'))
        return OS_FILE_HEADER;
    if (!strchr(name, '.')) {
        static const char ext[] = ".qvl";
        if (length + (int32_t)sizeof ext > capacity) return 0;
        memcpy(path + length, ext, sizeof ext);
    }
    return OS_FILE_MODULE;
}

int os_dialog_start(char* start, int32_t capacity, const char* cwd, const char* start_dir, const char* name) {
    if (!start || capacity <= 0) return 0;
    start[0] = 0;
    if (!start_dir) start_dir = "";
    if (!name) name = "";
    // zenity only takes an absolute path as its start.
    const bool relative = start_dir[0] != '/';
    if (relative && (!cwd || cwd[0] != '/')) return 0;
    const char* base = relative ? cwd : "";
    const size_t base_length = strlen(base);
    const char* base_slash = base_length && base[base_length - 1] != '/' ? "/" : "";
    const size_t dir_length = strlen(start_dir);
    const char* dir_slash = dir_length && start_dir[dir_length - 1] != '/' ? "/" : "";
    const int n =
        snprintf(start, (size_t)capacity, "%s%s%s%s%s", base, relative ? base_slash : "", start_dir, dir_slash, name);
    if (n < 0 || n >= capacity) {
        start[0] = 0;
        return 0;
    }
    return 1;
}

int os_dialog_run(char* const* argv, char* output, int32_t capacity, int32_t* length, void (*idle)(),
                  int* exit_status) {
    if (length) *length = 0;
    if (exit_status) *exit_status = -1;
    if (!argv || !argv[0] || !output || capacity <= 0) return OS_DIALOG_CANCELLED;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return OS_DIALOG_CANCELLED;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        return spawned == ENOENT ? OS_DIALOG_NOT_FOUND : OS_DIALOG_CANCELLED;
    }

    // Read to the end even past the buffer, so the program never blocks on a full pipe.
    int32_t total = 0;
    int overflow = 0;
    char discard[256];
    int closed = 0; // the dialog program was told to close because of a termination signal
    for (;;) {
        // A termination signal closes the dialog: its answer would come too late, and the program must end.
        if (os_signal_received() && !closed) {
            kill(pid, SIGTERM);
            closed = 1;
        }
        if (idle) {
            pollfd ready = {fds[0], POLLIN, 0};
            const int n = poll(&ready, 1, OS_DIALOG_IDLE_MS);
            if (n < 0 && errno == EINTR) continue;
            if (n == 0) {
                idle();
                continue;
            }
        }
        const bool room = total < capacity;
        const ssize_t n =
            read(fds[0], room ? output + total : discard, room ? (size_t)(capacity - total) : sizeof discard);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (room)
            total += (int32_t)n;
        else
            overflow = 1;
    }
    close(fds[0]);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return OS_DIALOG_CANCELLED;
    }
    if (length) *length = total;
    if (!WIFEXITED(status)) return OS_DIALOG_CANCELLED;
    if (exit_status) *exit_status = WEXITSTATUS(status);
    // A C library that reports a failed exec only through the child's exit status uses 127.
    if (WEXITSTATUS(status) == 127) return OS_DIALOG_NOT_FOUND;
    if (WEXITSTATUS(status) != 0) return OS_DIALOG_CANCELLED;
    return overflow ? OS_DIALOG_TOO_LONG : OS_DIALOG_CHOSEN;
}

// Shows the open (save 0) or save dialog with the first dialog program that exists, starting in start_dir and,
// for saving, offering name. Returns 1 with the path, 0 when nothing was chosen, -1 when the chosen path does not
// fit.
static int os_dialog_show(int save, char* path, int32_t capacity, const char* start_dir, const char* name) {
    OS_ASSERT(path != nullptr && capacity > 0);
    if (!path || capacity <= 0) return 0;
    path[0] = 0;
    char cwd[OS_PATH_CHARS];
    char start[OS_PATH_CHARS];
    if (!getcwd(cwd, sizeof cwd)) cwd[0] = 0;
    os_dialog_start(start, (int32_t)sizeof start, cwd, start_dir, save ? name : nullptr);
    os_dialog_command cmd;
    char output[OS_DIALOG_OUTPUT];
    static const int tools[] = {OS_DIALOG_ZENITY, OS_DIALOG_KDIALOG};
    // The window keeps its picture under the dialog and is repainted where the dialog uncovers it.
    os_show_last_frame();
    for (int tool : tools) {
        // A start too long for the command line leaves the choice to the dialog.
        if (!os_dialog_build(&cmd, tool, save, start) && !os_dialog_build(&cmd, tool, save, nullptr)) return 0;
        int32_t length = 0;
        const int result = os_dialog_run(cmd.argv, output, (int32_t)sizeof output, &length, os_keep_window_painted);
        if (result == OS_DIALOG_NOT_FOUND) continue;
        if (result == OS_DIALOG_TOO_LONG) return -1;
        if (result != OS_DIALOG_CHOSEN) return 0;
        return os_dialog_answer(output, length, path, capacity);
    }
    os_message_box("A file dialog needs zenity or kdialog. Please install one of them.", "ERROR");
    return 0;
}

int os_question_dialog(const char* text, const char* caption) {
    os_dialog_command cmd;
    char output[64];
    static const int tools[] = {OS_DIALOG_ZENITY, OS_DIALOG_KDIALOG};
    os_show_last_frame();
    for (int tool : tools) {
        if (!os_question_build(&cmd, tool, text ? text : "", caption ? caption : "")) return OS_ANSWER_CANCEL;
        int32_t length = 0;
        int status = 0;
        const int result =
            os_dialog_run(cmd.argv, output, (int32_t)sizeof output, &length, os_keep_window_painted, &status);
        if (result == OS_DIALOG_NOT_FOUND) continue;
        if (tool == OS_DIALOG_KDIALOG)
            return status == 0 ? OS_ANSWER_SAVE : status == 1 ? OS_ANSWER_DISCARD : OS_ANSWER_CANCEL;
        if (status == 0) return OS_ANSWER_SAVE;
        if (length >= 7 && memcmp(output, "Discard", 7) == 0) return OS_ANSWER_DISCARD;
        return OS_ANSWER_CANCEL;
    }
    return -1;
}

int os_open_dialog(char* path, int32_t capacity, const char* start_dir) {
    return os_dialog_show(0, path, capacity, start_dir, nullptr);
}

int os_save_dialog(char* path, int32_t capacity, int* file_type, const char* start_dir, const char* name) {
    const int chosen = os_dialog_show(1, path, capacity, start_dir, name);
    if (chosen <= 0) return chosen;
    const int type = os_dialog_save_type(path, capacity);
    if (!type) {
        // A directory chose no file; a name whose ".qvl" does not fit is too long.
        const size_t length = strlen(path);
        path[0] = 0;
        return length > 0 && path[length - 1] != '/' ? -1 : 0;
    }
    if (file_type) *file_type = type;
    return 1;
}

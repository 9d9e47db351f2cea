// Common file dialogs of the Win32 backend: GetOpenFileNameA and GetSaveFileNameA start in the folder the
// application names (the working directory when it names none), with the module filter (and for saving the C
// header filter and the offered file name, asking before an existing file is replaced) and the default extension
// "qvl"; the save type is the chosen filter. Main thread only; each call blocks until its dialog closes and owns
// nothing.
#include "dialogs_win32.h"

#include "os_tools.h"

#include <cstring>

const char OS_OPEN_FILTER[] = "Quavlo module\0*.qvl\0";
const char OS_SAVE_FILTER[] = "Quavlo module\0*.qvl\0C header file\0*.h\0";

void os_dialog_fill(OPENFILENAMEA* record, int save, HWND owner, char* path, int32_t path_capacity, char* title,
                    const char* start_dir) {
    memset(record, 0, sizeof *record);
    record->lStructSize = sizeof *record;
    record->hwndOwner = owner;
    record->lpstrFilter = save ? OS_SAVE_FILTER : OS_OPEN_FILTER;
    record->nFilterIndex = 1;
    record->lpstrFile = path;
    record->nMaxFile = path_capacity > 0 ? (DWORD)path_capacity : 0;
    record->lpstrFileTitle = title;
    record->nMaxFileTitle = title ? OS_DIALOG_CHARS : 0;
    record->lpstrInitialDir = start_dir && start_dir[0] ? start_dir : nullptr;
    record->lpstrDefExt = "qvl";
    record->Flags = OFN_NOCHANGEDIR | (save ? OFN_OVERWRITEPROMPT : 0);
}

int os_dialog_start_dir(char* dir, int32_t capacity, const char* start_dir) {
    if (!dir || capacity <= 0) return 0;
    const DWORD n = GetFullPathNameA(start_dir && start_dir[0] ? start_dir : ".", (DWORD)capacity, dir, nullptr);
    // A result that does not fit comes back as the size it needs.
    if (n == 0 || n >= (DWORD)capacity) {
        dir[0] = 0;
        return 0;
    }
    return 1;
}

int os_save_type_of_filter(DWORD filter_index) { return filter_index == 2 ? OS_FILE_HEADER : OS_FILE_MODULE; }

// Shows the open (save 0) or save dialog, starting in start_dir and offering name; 1 with the chosen path in path,
// and the chosen filter's index; -1 when the chosen path does not fit.
static int os_dialog_show(int save, char* path, int32_t capacity, DWORD* filter_index, const char* start_dir,
                          const char* name) {
    OS_ASSERT(path != nullptr && capacity > 0);
    if (!path || capacity <= 0) return 0;
    path[0] = 0;
    // The name the dialog offers is the text its path buffer starts with; one that does not fit is not offered.
    if (name && strlen(name) < (size_t)capacity) strcpy(path, name);
    char dir[OS_PATH_CHARS];
    char title[OS_DIALOG_CHARS] = "";
    os_dialog_start_dir(dir, (int32_t)sizeof dir, start_dir);
    OPENFILENAMEA record;
    os_dialog_fill(&record, save, os_window(), path, capacity, title, dir);
    const BOOL chosen = save ? GetSaveFileNameA(&record) : GetOpenFileNameA(&record);
    if (!chosen || !path[0]) {
        // A name longer than the buffer was chosen, but cannot be used; anything else was a cancel.
        const bool too_long = !chosen && CommDlgExtendedError() == FNERR_BUFFERTOOSMALL;
        path[0] = 0;
        return too_long ? -1 : 0;
    }
    if (filter_index) *filter_index = record.nFilterIndex;
    return 1;
}

int os_open_dialog(char* path, int32_t capacity, const char* start_dir) {
    return os_dialog_show(0, path, capacity, nullptr, start_dir, nullptr);
}

int os_save_dialog(char* path, int32_t capacity, int* file_type, const char* start_dir, const char* name) {
    DWORD filter_index = 1;
    const int chosen = os_dialog_show(1, path, capacity, &filter_index, start_dir, name);
    if (chosen == 1 && file_type) *file_type = os_save_type_of_filter(filter_index);
    return chosen;
}

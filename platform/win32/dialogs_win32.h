// The common file dialogs of the Win32 backend. The dialog record is filled, the start folder made a full path
// and the save type read from the chosen filter by plain functions that tests call directly;
// os_open_dialog and os_save_dialog (os_platform.h) put them together. Main thread only.
#pragma once
#include "platform_win32.h"

#include <cderr.h>
#include <commdlg.h>

// The program directory and file title buffers. Names arrive in UTF-8 (the manifest's code page), up to three bytes
// for each character of a 255-character name.
constexpr int32_t OS_DIALOG_CHARS = 1024;

// The dialogs' filter lists: pairs of description and pattern, each ended by a NUL, the list by a second NUL.
extern const char OS_OPEN_FILTER[];
extern const char OS_SAVE_FILTER[];

// Clears record and fills it for the open (save 0) or save dialog: owner, the filter list with the first entry
// chosen, the path buffer (path_capacity characters; its text is the name the dialog starts with), the file title
// buffer (OS_DIALOG_CHARS), the start directory (null or empty: the dialog's own choice), the default extension
// "qvl". The save dialog asks before an existing file is replaced (OFN_OVERWRITEPROMPT); both keep the current
// directory where it was, so that "song.wav" and "temp.tmp" do not move to wherever the dialog went.
void os_dialog_fill(OPENFILENAMEA* record, int save, HWND owner, char* path, int32_t path_capacity, char* title,
                    const char* start_dir);

// The full path of the folder a dialog starts in: start_dir, or the working directory when it is null or empty.
// Returns 0 (dir empty) when the path cannot be had or does not fit.
int os_dialog_start_dir(char* dir, int32_t capacity, const char* start_dir);

// File type for the save dialog's chosen filter: the second entry ("C header file") is OS_FILE_HEADER, any other
// OS_FILE_MODULE.
int os_save_type_of_filter(DWORD filter_index);

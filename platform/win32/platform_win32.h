// The parts of the Win32 platform backend that its tests and entry point reach directly: the window procedure,
// the window, the frame bitmap and the debugger output. Only the backend and its tests include this header.
#pragma once
// os_platform.h names a few virtual-key codes itself; it comes before <windows.h>, whose macros of the same names
// then stand for the same values.
#include "os_platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>

// The window procedure: records keys and the mouse in the polled input state, ends the program on close and
// puts the last presented picture back on WM_PAINT.
LRESULT CALLBACK os_wnd_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// The program's window, null before os_init_window and after os_release_window.
HWND os_window();

// Window pixels per frame pixel while the window exists (0 without one).
int32_t os_window_scale_in_use();

// The scale for a monitor whose work area (the screen without the taskbar) is work: os_window_scale when the
// command line set one, else the largest at which the window fits (os_fit_scale).
int32_t os_scale_for_work_area(const RECT& work);

// The virtual-key code a US keyboard gives the key at this set-1 scan code, for the letters, digits and
// punctuation of the typing block; 0 for any other key.
int32_t os_vk_from_scan_code(int32_t scan_code);

// The virtual-key code a WM_KEYDOWN or WM_KEYUP stands for: the typing block by its scan code (the key's place),
// every other key by the message's own code.
int32_t os_vk_of_key_message(WPARAM wparam, LPARAM lparam);

// The frame bitmap's pixels (top-down, 32 bits, width x height of os_create_dib), null when there is none.
const uint32_t* os_dib_pixels();

// Writes a log line to the debugger (OutputDebugStringA); the entry point hands it to os_tools as the log's
// second copy.
void os_debug_output(const char* line);

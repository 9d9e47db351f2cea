// What the file writers need from the system to keep a promise across a crash or a power cut: the bytes of a
// written file on the disk before it replaces another, and the replacement itself on the disk. One implementation
// per system (os_files_posix.cpp, os_files_win32.cpp); os_use_process_hooks hands them to the sound engine's file
// writers. No native type appears here.
#pragma once
#include <cstdint>
#include <cstdio>

// Flushes the C library's buffer of file and has the system write the file's bytes to the disk. 1 on success.
int32_t os_sync_file_to_disk(FILE* file);
// Has the system write the directory holding path (its entries: a rename into it) to the disk where that is a
// step of its own (POSIX); nothing where the file system journals it (Windows). 1 on success or nothing to do.
int32_t os_sync_directory_to_disk(const char* path);

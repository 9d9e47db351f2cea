/* A measuring aid for scripts/bench.sh, preloaded into a program under test (LD_PRELOAD): the file that SDL's disk
 * audio driver writes (SDL_DISKAUDIOFILE) is opened unbuffered, so that its size is at every moment the position of
 * the sound written so far. Through the C library's buffer the file grows 4096 bytes at a time, up to 93 ms of a
 * 22050 Hz mono stream behind what the device has played (23 ms of a 44100 Hz stereo one), and a key-to-sound
 * measurement that reads the file's size counts that as delay. Nothing else of the program changes.
 *
 *   cc -shared -fPIC -O2 -o bench_unbuffered.so scripts/bench_unbuffered.c -ldl
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef FILE* (*open_fn)(const char*, const char*);

static FILE* unbuffer_disk_audio(FILE* file, const char* path) {
    const char* disk = getenv("SDL_DISKAUDIOFILE");
    if (file && path && disk && strcmp(path, disk) == 0) setvbuf(file, NULL, _IONBF, 0);
    return file;
}

FILE* fopen(const char* path, const char* mode) {
    static open_fn next;
    if (!next) next = (open_fn)dlsym(RTLD_NEXT, "fopen");
    return unbuffer_disk_audio(next(path, mode), path);
}

FILE* fopen64(const char* path, const char* mode) {
    static open_fn next;
    if (!next) next = (open_fn)dlsym(RTLD_NEXT, "fopen64");
    return unbuffer_disk_audio(next(path, mode), path);
}

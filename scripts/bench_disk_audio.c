/* A measuring aid for scripts/bench.sh, preloaded into a program under test (LD_PRELOAD) that plays through SDL's
 * disk audio driver, which writes each period of sound to the file SDL_DISKAUDIOFILE as it plays it:
 *
 * BENCH_UNBUFFERED=1: the file is opened unbuffered, so that its size is at every moment the end of the sound
 *   written so far. Through the C library's buffer the file grows 4096 bytes at a time, up to 93 ms of a 22050 Hz
 *   mono stream behind what the device has played (23 ms of a 44100 Hz stereo one), and a key-to-sound measurement
 *   that reads the file's size counts that as delay.
 * BENCH_WRITE_LOG=PATH: every write to the file is logged to PATH as one line, "NANOSECONDS OFFSET BYTES" (the
 *   CLOCK_REALTIME time the driver handed the period over, its place in the stream, its length), so that a press's
 *   delay can be taken to the moment the period with the note's first sample went to the device.
 *
 * Nothing else of the program changes.
 *
 *   cc -shared -fPIC -O2 -o bench_disk_audio.so scripts/bench_disk_audio.c -ldl
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

typedef FILE* (*open_fn)(const char*, const char*);
typedef size_t (*write_fn)(const void*, size_t, size_t, FILE*);

static FILE* disk_file;          /* the driver's file, once opened */
static int write_log = -1;       /* the log of its writes, -1 for none */
static long long stream_written; /* bytes handed to the file so far */

static FILE* watch_disk_audio(FILE* file, const char* path) {
    const char* disk = getenv("SDL_DISKAUDIOFILE");
    if (!file || !path || !disk || strcmp(path, disk) != 0) return file;
    const char* unbuffered = getenv("BENCH_UNBUFFERED");
    if (unbuffered && strcmp(unbuffered, "1") == 0) setvbuf(file, NULL, _IONBF, 0);
    const char* log = getenv("BENCH_WRITE_LOG");
    if (log && write_log < 0) write_log = open(log, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    disk_file = file;
    stream_written = 0;
    return file;
}

FILE* fopen(const char* path, const char* mode) {
    static open_fn next;
    if (!next) next = (open_fn)dlsym(RTLD_NEXT, "fopen");
    return watch_disk_audio(next(path, mode), path);
}

FILE* fopen64(const char* path, const char* mode) {
    static open_fn next;
    if (!next) next = (open_fn)dlsym(RTLD_NEXT, "fopen64");
    return watch_disk_audio(next(path, mode), path);
}

size_t fwrite(const void* data, size_t size, size_t count, FILE* file) {
    static write_fn next;
    if (!next) next = (write_fn)dlsym(RTLD_NEXT, "fwrite");
    if (file != disk_file || write_log < 0) return next(data, size, count, file);
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    const size_t written = next(data, size, count, file);
    char line[96];
    const int length = snprintf(line, sizeof line, "%lld %lld %lld\n", (long long)now.tv_sec * 1000000000LL + now.tv_nsec,
                                stream_written, (long long)(written * size));
    if (length > 0 && write(write_log, line, (size_t)length) < 0) {
        close(write_log);
        write_log = -1;
    }
    stream_written += (long long)(written * size);
    return written;
}

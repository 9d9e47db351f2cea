/* Renders the song compiled in from tune.h, a header exported by the tracker, to a WAV file with the replayer.
   Usage: render_header OUT.wav [SECONDS [FRAMES_PER_CALL [SEED_MS]]]
   It stops when the song stops itself or after SECONDS of audio (default 600), whichever comes first. */
#include "quavlo_replay.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef unsigned char byte; /* the exported header leaves the element type to the program */
#include "tune.h"

static void put_le(unsigned char* at, unsigned long value, int bytes) {
    for (int i = 0; i < bytes; i++) at[i] = (unsigned char)(value >> (8 * i));
}

/* The 44-byte RIFF/WAVE header of `samples` 16-bit mono samples at 22050 Hz. */
static int write_wav_header(FILE* file, unsigned long samples) {
    unsigned char h[44];
    memcpy(h, "RIFF", 4);
    put_le(h + 4, samples * 2 + 36, 4);
    memcpy(h + 8, "WAVEfmt ", 8);
    put_le(h + 16, 16, 4);    /* format chunk size */
    put_le(h + 20, 1, 2);     /* PCM */
    put_le(h + 22, 1, 2);     /* mono */
    put_le(h + 24, 22050, 4); /* samples per second */
    put_le(h + 28, 44100, 4); /* bytes per second */
    put_le(h + 32, 2, 2);     /* bytes per sample */
    put_le(h + 34, 16, 2);    /* bits per sample */
    memcpy(h + 36, "data", 4);
    put_le(h + 40, samples * 2, 4);
    return fwrite(h, 1, sizeof h, file) == sizeof h;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s OUT.wav [SECONDS [FRAMES_PER_CALL [SEED_MS]]]\n", argv[0]);
        return 2;
    }
    const double seconds = argc > 2 ? atof(argv[2]) : 600.0;
    const int per_call = argc > 3 ? atoi(argv[3]) : 4096;
    const unsigned long seed = argc > 4 ? strtoul(argv[4], NULL, 10) : 0;
    if (!(seconds > 0) || per_call < 1) {
        fprintf(stderr, "%s: SECONDS and FRAMES_PER_CALL must be positive\n", argv[0]);
        return 2;
    }

    qvl_replay* song = qvl_replay_open(tune, sizeof tune, (uint32_t)seed);
    int16_t* buffer = malloc((size_t)per_call * sizeof *buffer);
    unsigned char* bytes = malloc((size_t)per_call * 2);
    FILE* out = fopen(argv[1], "wb");
    if (!song || !buffer || !bytes || !out) {
        fprintf(stderr, "%s: %s\n", argv[0], !song ? "tune.h holds no playable song" : "cannot write the file");
        return 1;
    }
    /* round(SECONDS * 22050) samples, where quavlo-cli render --seconds stops */
    const unsigned long limit = (unsigned long)(seconds * 22050.0 + 0.5);
    unsigned long samples = 0;
    int ok = write_wav_header(out, 0);
    while (samples < limit) {
        const int wanted = limit - samples < (unsigned long)per_call ? (int)(limit - samples) : per_call;
        const int got = qvl_replay_render(song, buffer, wanted);
        for (int i = 0; i < got; i++) put_le(bytes + 2 * i, (uint16_t)buffer[i], 2);
        ok = ok && fwrite(bytes, 2, (size_t)got, out) == (size_t)got;
        samples += (unsigned long)got;
        if (got < wanted) break; /* the song stopped itself */
    }
    ok = ok && fseek(out, 0, SEEK_SET) == 0 && write_wav_header(out, samples);
    ok = fclose(out) == 0 && ok;
    qvl_replay_close(song);
    free(buffer);
    free(bytes);
    if (!ok) fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
    return ok ? 0 : 1;
}

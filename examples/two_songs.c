/* Plays two songs at once with the replayer, as a game plays its music and a jingle over it: both are open
   together and rendered in turns, in calls of uneven sizes, and each goes to a WAV file of its own. Each file holds
   exactly what the song gives alone (what `quavlo-cli render` writes for it).
   Usage: two_songs A.qvl B.qvl OUT_A.wav OUT_B.wav [SECONDS]
   A song ends when it stops itself or after SECONDS of audio (default 600): round(SECONDS * 22050) samples, where
   quavlo-cli render --seconds stops. */
#include "quavlo_replay.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { CALLS = 4 };

/* The call sizes the two songs take in turns: each song walks them in its own order. */
static const int sizes[CALLS] = {1, 7, 1102, 4096};

struct song {
    qvl_replay* replay;    /* the open song */
    FILE* out;             /* its WAV file */
    unsigned long samples; /* samples written so far */
    unsigned long limit;   /* samples at which it ends at the latest */
    int done;              /* 1 once it has ended */
    int ok;                /* 0 once a write failed */
};

static void put_le(unsigned char* at, unsigned long value, int bytes) {
    for (int i = 0; i < bytes; i++) at[i] = (unsigned char)(value >> (8 * i));
}

/* The 44-byte RIFF/WAVE header of `samples` 16-bit mono samples at 22050 Hz. */
static int write_wav_header(FILE* file, unsigned long samples) {
    unsigned char h[44];
    memcpy(h, "RIFF", 4);
    put_le(h + 4, samples * 2 + 36, 4);
    memcpy(h + 8, "WAVEfmt ", 8);
    put_le(h + 16, 16, 4);
    put_le(h + 20, 1, 2);
    put_le(h + 22, 1, 2);
    put_le(h + 24, 22050, 4);
    put_le(h + 28, 44100, 4);
    put_le(h + 32, 2, 2);
    put_le(h + 34, 16, 2);
    memcpy(h + 36, "data", 4);
    put_le(h + 40, samples * 2, 4);
    return fwrite(h, 1, sizeof h, file) == sizeof h;
}

/* The whole file, in memory; NULL when it cannot be read. */
static unsigned char* read_file(const char* path, size_t* size) {
    FILE* in = fopen(path, "rb");
    if (!in) return NULL;
    unsigned char* data = NULL;
    size_t used = 0, room = 0;
    for (int c; (c = fgetc(in)) != EOF;) {
        if (used == room) {
            room = room ? room * 2 : 4096;
            unsigned char* grown = realloc(data, room);
            if (!grown) break;
            data = grown;
        }
        data[used++] = (unsigned char)c;
    }
    fclose(in);
    *size = used;
    return data;
}

/* Renders the next call of the song's turn, of `frames` samples at most. */
static void render_call(struct song* s, int frames) {
    static int16_t buffer[4096];
    static unsigned char bytes[2 * 4096];
    if (s->done) return;
    const int wanted = s->limit - s->samples < (unsigned long)frames ? (int)(s->limit - s->samples) : frames;
    const int got = qvl_replay_render(s->replay, buffer, wanted);
    for (int i = 0; i < got; i++) put_le(bytes + 2 * i, (uint16_t)buffer[i], 2);
    s->ok = s->ok && fwrite(bytes, 2, (size_t)got, s->out) == (size_t)got;
    s->samples += (unsigned long)got;
    if (got < wanted || s->samples >= s->limit) s->done = 1;
}

int main(int argc, char** argv) {
    if (argc < 5) {
        fprintf(stderr, "usage: %s A.qvl B.qvl OUT_A.wav OUT_B.wav [SECONDS]\n", argv[0]);
        return 2;
    }
    const double seconds = argc > 5 ? atof(argv[5]) : 600.0;
    if (!(seconds > 0)) {
        fprintf(stderr, "%s: SECONDS must be positive\n", argv[0]);
        return 2;
    }
    const unsigned long limit = (unsigned long)(seconds * 22050.0 + 0.5);
    struct song songs[2];
    unsigned char* modules[2] = {NULL, NULL};
    for (int k = 0; k < 2; k++) {
        size_t size = 0;
        modules[k] = read_file(argv[1 + k], &size);
        songs[k].replay = modules[k] ? qvl_replay_open(modules[k], size, 0) : NULL;
        songs[k].out = fopen(argv[3 + k], "wb");
        songs[k].samples = 0;
        songs[k].limit = limit;
        songs[k].done = 0;
        songs[k].ok = songs[k].out && write_wav_header(songs[k].out, 0);
        if (!songs[k].replay || !songs[k].out) {
            fprintf(stderr, "%s: %s\n", argv[0], !songs[k].replay ? "not a playable song" : "cannot write");
            return 1;
        }
    }
    /* Both songs in turns, A walking the call sizes forwards and B backwards. */
    for (int turn = 0; !songs[0].done || !songs[1].done; turn++) {
        render_call(&songs[0], sizes[turn % CALLS]);
        render_call(&songs[1], sizes[CALLS - 1 - turn % CALLS]);
    }
    int ok = 1;
    for (int k = 0; k < 2; k++) {
        struct song* s = &songs[k];
        s->ok = s->ok && fseek(s->out, 0, SEEK_SET) == 0 && write_wav_header(s->out, s->samples);
        s->ok = fclose(s->out) == 0 && s->ok;
        qvl_replay_close(s->replay);
        free(modules[k]);
        if (!s->ok) fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[3 + k]);
        ok = ok && s->ok;
    }
    return ok ? 0 : 1;
}

/* Plays the song compiled in from tune.h, a header exported by the tracker, through SDL2's audio callback. The
   replayer needs no SDL; this example uses it for the sound device. The order position and row are shown as the
   song plays, as a program would sync its pictures to the music.
   Usage: play_header [SECONDS [SEED_MS]]
   It plays until the song stops itself or for SECONDS of audio; SEED_MS seeds the noise sample (default 0). */
#include "quavlo_replay.h"

#include <SDL.h>
#include <stdio.h>
#include <stdlib.h>

typedef unsigned char byte; /* the exported header leaves the element type to the program */
#include "tune.h"

static qvl_replay* song;          /* the open song */
static unsigned long frames_left; /* audio still to play; written by the callback */
static SDL_atomic_t finished;     /* 1 once the song stopped itself or the time is up */

/* SDL's audio thread asks for the next buffer; whatever the song does not fill is silence. */
static void fill_audio(void* user, Uint8* stream, int len) {
    (void)user;
    int16_t* out = (int16_t*)stream;
    const int frames = len / 2;
    int got = 0;
    if (frames_left > 0) {
        const int wanted = frames_left < (unsigned long)frames ? (int)frames_left : frames;
        got = qvl_replay_render(song, out, wanted);
        frames_left = got < wanted ? 0 : frames_left - (unsigned long)got;
    }
    SDL_memset(out + got, 0, (size_t)(frames - got) * 2);
    if (frames_left == 0) SDL_AtomicSet(&finished, 1);
}

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? atof(argv[1]) : 3600.0;
    const unsigned long seed = argc > 2 ? strtoul(argv[2], NULL, 10) : 0;
    if (!(seconds > 0)) {
        fprintf(stderr, "usage: %s [SECONDS [SEED_MS]]\n", argv[0]);
        return 2;
    }
    frames_left = (unsigned long)(seconds * 22050.0);
    song = qvl_replay_open(tune, sizeof tune, (uint32_t)seed);
    if (!song) {
        fprintf(stderr, "%s: tune.h holds no playable song\n", argv[0]);
        return 1;
    }
    if (SDL_Init(SDL_INIT_AUDIO) != 0) {
        fprintf(stderr, "%s: %s\n", argv[0], SDL_GetError());
        qvl_replay_close(song);
        return 1;
    }
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = 22050;
    want.format = AUDIO_S16SYS;
    want.channels = 1;
    want.samples = 1024;
    want.callback = fill_audio;
    /* No allowed changes: SDL converts to whatever the device wants. */
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(NULL, 0, &want, NULL, 0);
    if (device == 0) {
        fprintf(stderr, "%s: %s\n", argv[0], SDL_GetError());
        qvl_replay_close(song);
        SDL_Quit();
        return 1;
    }
    SDL_PauseAudioDevice(device, 0);
    int shown_order = -1, shown_row = -1;
    while (!SDL_AtomicGet(&finished)) {
        int order, row;
        qvl_replay_position(song, &order, &row);
        if (order != shown_order || row != shown_row) {
            printf("\rorder %3d  row %2d", order, row);
            fflush(stdout);
            shown_order = order;
            shown_row = row;
        }
        SDL_Delay(10);
    }
    printf("\n");
    SDL_CloseAudioDevice(device);
    qvl_replay_close(song);
    SDL_Quit();
    return 0;
}

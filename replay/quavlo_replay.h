/* QuavloII replayer: plays a song from its module bytes (a .qvl file read into memory, or the array of a header
   that the tracker exported) in your own program, sample for sample as the tracker plays it: mono, at the
   tracker's 22050 samples per second (exactly the tracker's samples) or at 44100 or 48000 through a band-limited
   resampler, as signed 16-bit samples or as floats from -1 to 1.

   Any number of songs may be open at once (music and a jingle over it, say): each handle has its own player and
   gives exactly the samples it gives alone, whatever the others do. A handle that was closed, or that never came
   from an open, is refused by every function, even when a newer song sits at the same place in memory. The
   functions of one handle that render (render, render_f32, seek, set_passes) run on one thread at a time;
   qvl_replay_position, qvl_replay_frames and qvl_replay_length may run on another (an audio callback renders, the
   main loop asks where the song is). Opens and closes may run while other handles render, but not at the
   same time as each other, nor as a call on the handle being closed.

   The library prints nothing, starts no thread, touches no file, never ends the program and needs no C++
   runtime: a C program links it with the maths library alone (cc game.c -lquavlo_replay -lm). Every failure
   comes back as a return value. */
#ifndef QUAVLO_REPLAY_H
#define QUAVLO_REPLAY_H

#include <stddef.h>
#include <stdint.h>

#define QVL_REPLAY_VERSION_MAJOR 1
#define QVL_REPLAY_VERSION_MINOR 1
#define QVL_REPLAY_VERSION_PATCH 0
/* The version of this header as one number, major * 10000 + minor * 100 + patch (10100 for 1.1.0). */
#define QVL_REPLAY_VERSION \
    (QVL_REPLAY_VERSION_MAJOR * 10000 + QVL_REPLAY_VERSION_MINOR * 100 + QVL_REPLAY_VERSION_PATCH)

/* Why qvl_replay_open_rate gave no song. */
#define QVL_REPLAY_OK 0            /* the song is open */
#define QVL_REPLAY_NOT_A_MODULE 1  /* the bytes are not a Quavlo module (or it is cut short in its order list) */
#define QVL_REPLAY_NO_ORDER 2      /* a module whose order list is empty: nothing to play */
#define QVL_REPLAY_OUT_OF_MEMORY 3 /* memory ran out */
#define QVL_REPLAY_BAD_RATE 4      /* the rate is not 22050, 44100 or 48000 */

#ifdef __cplusplus
extern "C" {
#endif

typedef struct qvl_replay qvl_replay;

/* Opens a song at 22050 samples per second and starts it at its first order position. seed_ms is the clock
   value that seeds the song's noise sample: the same bytes and seed always give the same samples. Returns NULL
   when the bytes are not a usable module (not a Quavlo module, or no order entry), or when memory runs out. */
qvl_replay* qvl_replay_open(const unsigned char* module, size_t size, uint32_t seed_ms);

/* The same at `rate` samples per second: 22050 (the tracker's own samples), 44100 or 48000 (resampled). When no
   song opens, *error (when error is not NULL) says why: one of QVL_REPLAY_NOT_A_MODULE, QVL_REPLAY_NO_ORDER,
   QVL_REPLAY_OUT_OF_MEMORY, QVL_REPLAY_BAD_RATE; it is QVL_REPLAY_OK when the song opened. */
qvl_replay* qvl_replay_open_rate(const unsigned char* module, size_t size, uint32_t seed_ms, int rate, int* error);

/* Writes up to `frames` samples to out and returns how many it wrote. While the song plays that is all of them;
   once it has ended it is fewer, and 0 from then on. A song ends when it stops itself (effect 8) or after the
   plays through its order list that qvl_replay_set_passes asked for; by default it loops along its order list
   for ever, as in the tracker. How the samples are split into calls does not change them. Returns 0 for a
   handle that is not open, a NULL out, or frames below 1. */
int qvl_replay_render(qvl_replay* handle, int16_t* out, int frames);

/* The same samples as floats from -1 to 1: the 16-bit value / 32768 at 22050 per second; at 44100 and 48000 the
   resampler's output before it is rounded to 16 bits. */
int qvl_replay_render_f32(qvl_replay* handle, float* out, int frames);

/* The player's order position and row for the last sample rendered (0 and 0 before any, or the position sought
   before any after a seek), to sync pictures to the music; -1 and -1 for a handle that is not open. Either
   pointer may be NULL. */
void qvl_replay_position(const qvl_replay* handle, int* order_pos, int* row);

/* The song ends after `passes` plays through its order list, exactly where `quavlo-cli render --passes N` ends;
   0 (the default) loops for ever. Plays are counted from the open or the last seek: a song that comes back to
   its first order position's row 0 has played once through. A song that has ended stays ended until a seek. */
void qvl_replay_set_passes(qvl_replay* handle, int passes);

/* The frames of one play through the song from its start, at the handle's rate: exactly as many as
   `quavlo-cli render --passes 1` writes (at 22050 per second), and the frames up to where the song stops itself
   when it does. -1 when the song never comes back to its start, nor stops, within an hour; -1 for a handle that
   is not open. The open finds it, playing the song's rows through without mixing them. */
long qvl_replay_length(const qvl_replay* handle);

/* Plays on from row `row` (0..63) of order position `order_pos`, as the tracker plays from there: fresh voices at
   speed 2, the row sounding two blocks (1102 samples each) after the seek, as at the start. seek(0, 0) restarts
   the song exactly as it first played. A song that has ended plays again, and passes count from here. Returns 1,
   or 0 (nothing changed) for a position outside the order list or a handle that is not open. */
int qvl_replay_seek(qvl_replay* handle, int order_pos, int row);

/* The frames rendered since the song was opened, at the handle's rate (seeks do not reset it); -1 for a handle
   that is not open. */
int64_t qvl_replay_frames(const qvl_replay* handle);

/* The library's version, QVL_REPLAY_VERSION as it was built: compare it with the header's to catch a mismatch. */
int qvl_replay_version(void);

/* Stops the song and frees what the handle holds; the handle is refused from then on. NULL, and a handle that
   is not open, are ignored. */
void qvl_replay_close(qvl_replay* handle);

#ifdef __cplusplus
}
#endif

#endif

/* QuavloII replayer: plays a song from its module bytes (a .qvl file read into memory, or the array of a header
   that the tracker exported) in your own program, sample for sample as the tracker plays it: 22050 samples per
   second, mono, signed 16-bit.

   Any number of songs may be open at once (music and a jingle over it, say): each handle has its own player and
   gives exactly the samples it gives alone, whatever the others do. qvl_replay_render and qvl_replay_position of
   one handle may run on different threads (an audio callback and the main loop, say). Opens and closes may run
   while other handles render, but not at the same time as each other, nor as a render of the handle closed.

   The library prints nothing, starts no thread, touches no file and never ends the program: every failure comes
   back as a return value. Link it with the C++ runtime, libm and threads (from C: -lstdc++ -lm -lpthread). */
#ifndef QUAVLO_REPLAY_H
#define QUAVLO_REPLAY_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct qvl_replay qvl_replay;

/* Opens a song and starts it at its first order position. seed_ms is the clock value that seeds the song's noise
   sample: the same bytes and seed always give the same samples. Returns NULL when the bytes are not a usable
   module (not a Quavlo module, or no order entry), or when memory runs out. */
qvl_replay* qvl_replay_open(const unsigned char* module, size_t size, uint32_t seed_ms);

/* Writes up to `frames` samples to out and returns how many it wrote. While the song plays that is all of them
   (the song loops along its order list, as in the tracker); once the song stops itself (effect 8) it is fewer,
   and 0 from then on. How the samples are split into calls does not change them. Returns 0 for a NULL handle or
   out, a handle that is not open, or frames below 1. */
int qvl_replay_render(qvl_replay* handle, int16_t* out, int frames);

/* The player's order position and row for the last sample rendered (0 and 0 before any), to sync pictures to
   the music; -1 and -1 for a NULL handle or one that is not open. Either pointer may be NULL. */
void qvl_replay_position(const qvl_replay* handle, int* order_pos, int* row);

/* Stops the song and frees what the handle holds; the handle is gone afterwards. NULL is ignored. */
void qvl_replay_close(qvl_replay* handle);

#ifdef __cplusplus
}
#endif

#endif

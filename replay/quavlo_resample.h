// The replayer's band-limited resampler: takes the engine's 22050 Hz output to 44100 or 48000 Hz. Each output
// frame is the input under a windowed-sinc filter (QVL_TAPS input samples, Kaiser window) centred on the frame's
// instant, with the filter's coefficients for every phase computed once when the resampler is made: 2 phases
// for 44100 Hz, 320 for 48000 Hz. Output frame k lies at input instant k * 22050 / rate, so frame 0 is input
// sample 0 and, at 44100 Hz, every even frame is an input sample unchanged. Runs on the thread that renders
// the song; owns its coefficient table.
#pragma once
#include <cstdint>

constexpr int32_t QVL_TAPS = 64;          // input samples under the filter for each output frame
constexpr int32_t QVL_RESAMPLE_HOLD = 1024; // input samples the resampler holds beyond those under the filter

struct qvl_resampler {
    int32_t in_step;  // input samples per out_step output frames (1 at 44100 Hz, 147 at 48000 Hz)
    int32_t out_step; // output frames per in_step input samples: the filter's phases (2 or 320)
    float* taps;      // out_step rows of QVL_TAPS coefficients, row p for the instant p / out_step past a sample
    int32_t phase;    // row of the next output frame: (k * in_step) mod out_step for frame k
    int64_t next;     // input sample at or before the next output frame's instant: k * in_step / out_step
    int64_t first;    // input index of buffer[0]
    int32_t held;     // input samples in buffer
    float buffer[QVL_TAPS + QVL_RESAMPLE_HOLD]; // input samples first .. first + held - 1
};

// Readies a resampler from 22050 Hz to rate (44100 or 48000) with its coefficient table; false when the rate is
// not one of them or there is no memory for the table.
bool qvl_resample_init(qvl_resampler* r, int32_t rate);
// Frees the coefficient table.
void qvl_resample_free(qvl_resampler* r);
// Back to frame 0 with no input held: the input before sample 0 counts as silence.
void qvl_resample_reset(qvl_resampler* r);
// The input samples that must be held before the next output frame can be made: all before this index.
static inline int64_t qvl_resample_needed(const qvl_resampler* r) { return r->next + QVL_TAPS / 2 + 1; }
// Where the next input samples go, making room for them; *room is how many may be appended (at least 1).
float* qvl_resample_room(qvl_resampler* r, int32_t* room);
// Counts `count` samples written at the room as held input.
static inline void qvl_resample_append(qvl_resampler* r, int32_t count) { r->held += count; }
// The next output frame, in the input's scale; the held input must reach qvl_resample_needed.
float qvl_resample_frame(qvl_resampler* r);
// The output frames whose instants lie before input sample `samples`: ceil(samples * rate / 22050).
static inline int64_t qvl_resample_frames_before(const qvl_resampler* r, int64_t samples) {
    return (samples * r->out_step + r->in_step - 1) / r->in_step;
}

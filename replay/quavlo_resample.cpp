// The replayer's band-limited resampler (see quavlo_resample.h). The coefficients come from sines that a rotation
// steps through and a power series for the Kaiser window's Bessel function (no maths library but sqrt), once per
// resampler; the frames are one dot product each.
#include "quavlo_resample.h"

#include "os_tools.h"

#include <cmath>
#include <cstring>

// The Kaiser window's shape: about 90 dB of stop band for QVL_TAPS taps, with the pass band reaching 10 kHz.
static constexpr double QVL_KAISER_BETA = 9.0;
static constexpr double QVL_PI = 3.14159265358979323846;

// The modified Bessel function of the first kind and order 0, by its power series (x stays below 10 here, where
// forty terms leave nothing out).
static double qvl_bessel_i0(double x) {
    double sum = 1.0, term = 1.0;
    for (int32_t k = 1; k < 40; k++) {
        const double f = x / (2.0 * k);
        term *= f * f;
        sum += term;
    }
    return sum;
}

bool qvl_resample_init(qvl_resampler* r, int32_t rate) {
    memset(r, 0, sizeof *r);
    // The sine and cosine of pi / out_step, the angle between two phases.
    double step_sin = 1.0, step_cos = 0.0;
    if (rate == 44100) {
        r->in_step = 1;
        r->out_step = 2;
    } else if (rate == 48000) {
        r->in_step = 147;
        r->out_step = 320;
        step_sin = 0.009817319337149617;
        step_cos = 0.999951808959328;
    } else {
        return false;
    }
    r->taps = (float*)os_alloc(r->out_step * QVL_TAPS * (int32_t)sizeof(float));
    if (!r->taps) return false;
    double row[QVL_TAPS];
    double sin_frac = 0.0, cos_frac = 1.0; // of pi * frac
    for (int32_t p = 0; p < r->out_step; p++) {
        // Tap j weighs input sample next - (QVL_TAPS / 2 - 1) + j, at distance d = n - frac from the frame's
        // instant, where sin(pi d) = -(-1)^n sin(pi frac).
        const double frac = (double)p / r->out_step;
        double sum = 0.0;
        for (int32_t j = 0; j < QVL_TAPS; j++) {
            // The sinc of the input's band (at phase 0: 1 on the frame's own sample, 0 elsewhere) under the
            // window, which spans -32..32 samples (d stays inside).
            const int32_t n = j - (QVL_TAPS / 2 - 1);
            const double d = n - frac;
            const double sinc = d == 0.0 ? 1.0 : (n % 2 ? sin_frac : -sin_frac) / (QVL_PI * d);
            const double x = d / (QVL_TAPS / 2);
            row[j] = sinc * qvl_bessel_i0(QVL_KAISER_BETA * std::sqrt(1.0 - x * x));
            sum += row[j];
        }
        // Every phase passes a constant through unchanged (which also scales the window).
        for (int32_t j = 0; j < QVL_TAPS; j++) r->taps[p * QVL_TAPS + j] = (float)(row[j] / sum);
        const double next_sin = sin_frac * step_cos + cos_frac * step_sin;
        cos_frac = cos_frac * step_cos - sin_frac * step_sin;
        sin_frac = next_sin;
    }
    qvl_resample_reset(r);
    return true;
}

void qvl_resample_free(qvl_resampler* r) {
    if (r->taps) os_free(&r->taps);
}

void qvl_resample_reset(qvl_resampler* r) {
    r->phase = 0;
    r->next = 0;
    r->first = -(QVL_TAPS / 2 - 1);
    r->held = QVL_TAPS / 2 - 1;
    memset(r->buffer, 0, sizeof r->buffer);
}

float* qvl_resample_room(qvl_resampler* r, int32_t* room) {
    const int32_t capacity = (int32_t)(sizeof r->buffer / sizeof r->buffer[0]);
    if (r->held == capacity) {
        // Samples before the filter's first tap are no longer needed.
        const int32_t drop = (int32_t)(r->next - (QVL_TAPS / 2 - 1) - r->first);
        memmove(r->buffer, r->buffer + drop, (size_t)(r->held - drop) * sizeof(float));
        r->first += drop;
        r->held -= drop;
    }
    *room = capacity - r->held;
    return r->buffer + r->held;
}

float qvl_resample_frame(qvl_resampler* r) {
    const float* x = r->buffer + (r->next - (QVL_TAPS / 2 - 1) - r->first);
    const float* h = r->taps + r->phase * QVL_TAPS;
    float y = 0.0f;
    for (int32_t j = 0; j < QVL_TAPS; j++) y += x[j] * h[j];
    r->phase += r->in_step;
    if (r->phase >= r->out_step) {
        r->phase -= r->out_step;
        r->next++;
    }
    return y;
}

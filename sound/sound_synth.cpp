// The synthesizer: an engine's two banks of two-oscillator voices and the mixer that sums them into 16-bit blocks.
// The mixer and the voice operations run on whichever thread the engine's host lets use the engine at the time
// (the tracker's audio thread mixing and ticking, its main thread previewing, both under audio_lock).
//
// Every value stored in a voice field or in the accumulator is single precision; the intermediate results
// inside one expression are double precision. The rounding this gives is part of the sound: songs must
// render to the same samples everywhere.
//
// With QVL_REPLAY_SMALL defined (the replayer's small build) the mixer runs every voice sample by sample through
// snd_run_sample, the straightforward form of the arithmetic: a fraction of the code, slower, the same samples.
#include "os_tools.h"
#include "sound.h"
#if defined(QVL_WRITTEN_TABLES)
#include "sound_tables.h"
#endif

#include <cmath>
#include <cstring>

#if !defined(QVL_REPLAY_SMALL)
#include <array>
#include <utility>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#endif

float snd_note_freq[SND_NOTES]; // note index (octave * 12 + semitone) -> Hz, to a tenth of a hertz

static const bool snd_note_freq_filled = [] {
    for (int32_t n = 0; n < SND_NOTES; n++) {
#if defined(QVL_WRITTEN_TABLES)
        snd_note_freq[n] = snd_note_entries[n];
#else
        const double f = 440.0 * pow(2.0, (n - 57) / 12.0);
        snd_note_freq[n] = (float)(round(f * 10.0) / 10.0);
#endif
    }
    return true;
}();

// Oscillator step for a tone of f Hz over samples of 1000 values per period, in exactly this form.
static double snd_step_for(double f) { return 1000.0 / (22050.0 / f); }

static snd_voice* snd_voice_at(snd_engine* e, int32_t voice) {
    OS_ASSERT(voice >= 0 && voice < SND_VOICES);
    if (voice < 0 || voice >= SND_VOICES) return nullptr;
    OS_ASSERT(e->snd_slot == 0 || e->snd_slot == 1);
    return &e->snd_voices[e->snd_slot & 1][voice];
}

void snd_reset_voices(snd_engine* e, int32_t bank) {
    OS_ASSERT(bank >= 0 && bank < 2);
    if (bank < 0 || bank >= 2) return;
    for (snd_voice& v : e->snd_voices[bank]) {
        const uint8_t enabled = v.enabled;
        memset(&v, 0, sizeof v);
        v.enabled = enabled;
        v.volume = v.target_volume = 1.0f;
        v.channel_pattern = -1;
    }
}

void snd_play_note(snd_engine* e, int32_t semitone, int32_t octave, int32_t voice, snd_sample* sample,
                   int32_t duration) {
    OS_ASSERT(octave <= 9 && semitone <= 11);
    // Only a loaded module can hold such a note; it has no entry in the frequency table and is not played.
    if (octave < 0 || octave > 9 || semitone < 0 || semitone > 11) return;
    const float f = snd_note_freq[octave * 12 + semitone];
    if (f == 0) return;
    snd_voice* v = snd_voice_at(e, voice);
    if (!v) return;
    v->semitone = (uint16_t)semitone;
    v->octave = (uint16_t)octave;
    snd_note_on(e, sample, voice, f, duration);
}

void snd_note_on(snd_engine* e, snd_sample* sample, int32_t voice, float freq, int32_t duration) {
    snd_voice* v = voice >= 0 && voice < SND_VOICES ? &e->snd_voices[e->snd_slot & 1][voice] : nullptr;
    // The second oscillator keeps the previous distance between the two targets, with its sign turned over.
    const double d = v ? (double)v->target_step[0] - (double)v->target_step[1] : 0.0;
    OS_ASSERT(sample != nullptr);
    OS_ASSERT(voice >= 0 && voice < SND_VOICES);
    OS_ASSERT(freq > 0);
    if (!sample || !v || !(freq > 0) || !sample->data || sample->length <= 0) return;

    v->sample = sample;
    v->target_volume = 1.0f;
    v->phase[1] = (float)((double)v->phase[0] + 500.0);
    const double s = snd_step_for(freq);
    const double length = sample->length;
    for (int k = 0; k < 2; k++) {
        v->step[k] = v->target_step[k] = (float)(s + k * d);
        v->phase[k] = (float)((double)v->phase[k] - trunc((double)v->phase[k] / length) * length);
        v->base_step[k] = v->step[k];
    }
    v->countdown = duration * 1000;
    if (v->arp_param != 0) snd_set_effect(e, voice, v->arp_param, SND_FX_ARPEGGIO);
    v->active = 1;
}

// Step of the note `interval` semitones above the voice's last note; past the table's end it is the last entry.
static double snd_arp_interval_step(const snd_voice* v, int32_t interval) {
    int32_t n = v->semitone + interval;
    int32_t o = v->octave;
    if (n >= 12) {
        n -= 12;
        if (o < 9) o++;
    }
    int32_t index = o * 12 + n;
    if (index > SND_NOTES - 1) index = SND_NOTES - 1;
    return snd_step_for(snd_note_freq[index]);
}

void snd_set_effect(snd_engine* e, int32_t voice, uint8_t param, uint8_t effect) {
    snd_voice* v = snd_voice_at(e, voice);
    if (!v) return;
    if (effect != v->effect) {
        v->effect = effect;
        v->counter = 0;
        v->arp_index = 0;
    }
    switch (effect & 15) {
    case SND_FX_FADE:
        v->countdown = param * SND_BLOCK;
        v->fading = 1;
        break;
    case SND_FX_ARPEGGIO: { // note, note + high nibble, note + low nibble
        v->arpeggio = 1;
        v->arp_param = param;
        const double h = snd_arp_interval_step(v, param >> 4);
        const double l = snd_arp_interval_step(v, param & 15);
        const double delta = (double)v->base_step[1] - (double)v->base_step[0];
        v->arp_step[0][0] = v->base_step[0];
        v->arp_step[0][1] = (float)h;
        v->arp_step[0][2] = (float)l;
        v->arp_step[1][0] = v->base_step[1];
        v->arp_step[1][1] = (float)(h + delta);
        v->arp_step[1][2] = (float)(l + delta);
        break;
    }
    case SND_FX_SLIDE_UP: // both targets rise, the current steps glide after them
        if (param != 0) {
            const double s = snd_step_for(param);
            for (float& t : v->target_step) t = (float)((double)t + s);
        }
        break;
    case SND_FX_SLIDE_DOWN: // not below 0
        if (param != 0) {
            const double s = snd_step_for(param);
            for (float& t : v->target_step) {
                t = (float)((double)t - s);
                if (t < 0) t = 0;
            }
        }
        break;
    case SND_FX_DETUNE: // the second oscillator
        v->target_step[1] = v->base_step[1] = (float)((double)v->target_step[0] + param * (double)0.01f);
        break;
    case SND_FX_VIBRATO: // rate from the high nibble, depth from the low one
        v->vibrato = 1;
        v->vib_depth = (float)((param & 15) * (double)0.1f);
        v->vib_rate = (float)(0.01 / ((param >> 4) + 1));
        break;
    default:
        break;
    }
    // A whole effect byte of 0 ends every effect of the voice.
    if (effect == 0) {
        v->target_volume = 1.0f;
        v->vibrato = v->arpeggio = v->fading = v->arp_param = 0;
        v->vib_rate = v->vib_depth = 0;
        v->effect = 0;
        v->counter = v->arp_index = 0;
    }
}

// A read position outside the sample (after a bare change to a shorter sample, or a step larger than the
// sample) is read modulo the length.
__attribute__((noinline, cold)) static float snd_read_outside(const float* data, int32_t length, float phase) {
    double p = std::isfinite(phase) ? fmod((double)phase, (double)length) : 0.0;
    if (p < 0) p += length;
    int32_t i = (int32_t)p;
    if (i < 0 || i >= length) i = 0;
    return data[i];
}

// The sample value under a read position.
static inline float snd_read(const float* data, int32_t length, float flength, float phase) {
    // Lengths are exact in single precision, so a position below the length truncates to an index below it.
    if (__builtin_expect(phase >= 0 && phase < flength, 1)) return data[(int32_t)phase];
    return snd_read_outside(data, length, phase);
}

// What the mixer needs of a sounding voice; none of it can change while a block is mixed.
struct snd_mix_voice {
    snd_voice* v;
    const float* data;
    int32_t length;
    float flength;
    bool inverted;      // an effect byte with high nibble 2 turns the output over
    int32_t arp_period; // the engine's arpeggio step length
};

constexpr int32_t SND_MIX_CHUNK = 256; // samples each voice runs ahead before the accumulator sums them

// The changing part of a voice while a chunk is mixed, kept in locals so it stays in registers.
struct snd_run_state {
    float volume, target_volume;
    float phase0, phase1, step0, step1, target0, target1, base0, base1;
    int32_t counter, arp_index, countdown;
    bool active, second;
};

// One output sample of a voice with every per-sample step as the mixer defines it: the gain glides toward its
// target, the oscillators are read (the second only while the steps differ), the steps glide toward theirs, the
// read positions move on, the countdown runs (fading the target gain when the voice fades), vibrato and arpeggio
// set new steps, and the positions wrap into the sample. The stretches below do the same with the steps that
// have no work left out; this one also serves positions outside the sample.
static void snd_run_sample(const snd_mix_voice& mv, snd_run_state& st, double* t0, double* t1) {
    const snd_voice& v = *mv.v;
    if (st.volume != st.target_volume)
        st.volume = (float)((double)st.volume + ((double)st.target_volume - (double)st.volume) * (double)0.01f);
    // Products of two single-precision values are exact in double precision, so the sign may go either way.
    const double gain = (mv.inverted ? -1.0 : 1.0) * (double)st.volume;
    *t0 = snd_read(mv.data, mv.length, mv.flength, st.phase0) * gain;
    // The second oscillator sounds with the opposite sign of the first, and only while their steps differ.
    if (st.step1 != st.step0) {
        *t1 = -(snd_read(mv.data, mv.length, mv.flength, st.phase1) * gain);
        st.second = true;
    } else {
        *t1 = 0.0;
    }
    if (st.target0 != st.step0) {
        st.step0 = (float)((double)st.step0 + ((double)st.target0 - (double)st.step0) * (double)0.001f);
        st.base0 = st.step0;
    }
    if (st.target1 != st.step1) {
        st.step1 = (float)((double)st.step1 + ((double)st.target1 - (double)st.step1) * (double)0.001f);
        st.base1 = st.step1;
    }
    // A float sum rounds the exact sum once, just as the double sum rounded to float does.
    st.phase0 = st.phase0 + st.step0;
    st.phase1 = st.phase1 + st.step1;
    if (st.countdown > 0) {
        st.countdown--;
        if (st.countdown == 0)
            st.active = false;
        else if (v.fading && st.target_volume > 0)
            st.target_volume = (float)((double)st.target_volume - (double)st.target_volume / (double)st.countdown);
    }
    if (v.vibrato) {
        st.counter++;
        // Both oscillators swing by the same table sine of the shared counter.
        const double m = os_sin((float)st.counter * v.vib_rate);
        st.step0 = st.target0 = (float)(m * (double)v.vib_depth + (double)st.base0);
        st.step1 = st.target1 = (float)(m * (double)v.vib_depth + (double)st.base1);
    }
    if (v.arpeggio) {
        st.counter++;
        if (st.counter >= mv.arp_period) {
            st.arp_index = st.arp_index >= 2 ? 0 : st.arp_index + 1;
            st.counter = 0;
            st.step0 = st.target0 = v.arp_step[0][st.arp_index];
            st.step1 = st.target1 = v.arp_step[1][st.arp_index];
        }
    }
    const float flength = mv.flength;
    if (st.phase0 >= flength) st.phase0 = st.phase0 - flength;
    if (st.phase0 < 0) st.phase0 = st.phase0 + flength;
    if (st.phase1 >= flength) st.phase1 = st.phase1 - flength;
    if (st.phase1 < 0) st.phase1 = st.phase1 + flength;
}

#if !defined(QVL_REPLAY_SMALL)
// A read position that indexes the sample directly.
static inline bool snd_inside(float phase, float flength) { return phase >= 0 && phase < flength; }

// Moves a read position on by one step and wraps it into the sample as snd_run_sample does (the wrap depends on
// nothing else of the sample's steps, so it may follow the sum at once). A position still outside the sample ends
// the stretch after this sample: end becomes the next sample's index.
static inline void snd_advance(float& phase, float step, float flength, int32_t next, int32_t& end) {
    phase = phase + step;
    if (__builtin_expect(snd_inside(phase, flength), 1)) return;
    if (phase >= flength) phase = phase - flength;
    if (phase < 0) phase = phase + flength;
    if (!snd_inside(phase, flength)) end = next;
}

// Whether os_sin's argument for a vibrato counter stays inside the range in which it converts to a table index,
// for the next `samples` samples (the counter grows by at most two a sample, and the argument grows with it).
static bool snd_vibrato_in_range(int32_t counter, float vib_rate, int32_t samples) {
    const int64_t last = (int64_t)counter + 2 * (int64_t)samples;
    if (counter < 0 || !(vib_rate >= 0) || last > INT32_MAX) return false;
    return (double)((float)last * vib_rate) * OS_SIN_SCALE < 2147483648.0;
}

// How a voice's countdown runs during a stretch of samples.
enum snd_count_mode { SND_COUNT_NONE, SND_COUNT_DOWN, SND_COUNT_FADE };

// Runs samples of one voice exactly as snd_run_sample does, with the per-sample steps fixed at compile time: the
// gain glides (GLIDE_VOLUME), the steps glide (GLIDE_STEP), the countdown runs (COUNT, fading or not), vibrato
// (VIBRATO), arpeggio (ARPEGGIO). A step left out is one that would change nothing: the caller only leaves out a
// glide whose value already equals its target or no longer moves (its next value rounds back to itself, so it
// never moves again until its target changes, which only vibrato and arpeggio do, and they set step and target
// equal). Both read positions must be inside the sample; the stretch ends after the sample at which one is not,
// at which a glide stood still, or at which the voice stopped, else after n samples. Returns the samples run.
template <bool GLIDE_VOLUME, bool GLIDE_STEP, snd_count_mode COUNT, bool VIBRATO, bool ARPEGGIO>
static int32_t snd_run_stretch(const snd_mix_voice& mv, snd_run_state& st, double* t0, double* t1, int32_t n) {
    float volume = st.volume, target_volume = st.target_volume;
    float phase0 = st.phase0, phase1 = st.phase1;
    float step0 = st.step0, step1 = st.step1;
    float target0 = st.target0, target1 = st.target1;
    float base0 = st.base0, base1 = st.base1;
    int32_t counter = st.counter, arp_index = st.arp_index, countdown = st.countdown;
    bool active = true, second = st.second;
    const snd_voice& v = *mv.v;
    const float vib_rate = v.vib_rate;
    const double vib_depth = v.vib_depth;
    const float* data = mv.data;
    const float flength = mv.flength;
    const double sign = mv.inverted ? -1.0 : 1.0;
    const int32_t arp_period = mv.arp_period;
    // Every reason to end the stretch early sets end to the next sample's index.
    int32_t end = n;
    for (int32_t i = 0; i < end; i++) {
        bool moved = false;
        if (GLIDE_VOLUME || COUNT == SND_COUNT_FADE) {
            if (volume != target_volume) {
                const float next = (float)((double)volume + ((double)target_volume - (double)volume) * (double)0.01f);
                moved = next != volume;
                volume = next;
            }
        }
        const double gain = sign * (double)volume;
        // Both positions are inside the sample here, so they index it directly.
        t0[i] = data[(int32_t)phase0] * gain;
        if (step1 != step0) {
            // -(x * gain) and x * -gain are the same number: negation is exact.
            t1[i] = data[(int32_t)phase1] * -gain;
            second = true;
        } else {
            t1[i] = 0.0;
        }
        if (GLIDE_STEP) {
            if (target0 != step0) {
                const float next = (float)((double)step0 + ((double)target0 - (double)step0) * (double)0.001f);
                moved = moved || next != step0;
                step0 = base0 = next;
            }
            if (target1 != step1) {
                const float next = (float)((double)step1 + ((double)target1 - (double)step1) * (double)0.001f);
                moved = moved || next != step1;
                step1 = base1 = next;
            }
        }
        snd_advance(phase0, step0, flength, i + 1, end);
        snd_advance(phase1, step1, flength, i + 1, end);
        if (COUNT != SND_COUNT_NONE) {
            countdown--;
            if (countdown == 0) {
                active = false;
                end = i + 1;
            } else if (COUNT == SND_COUNT_FADE && target_volume > 0)
                target_volume = (float)((double)target_volume - (double)target_volume / (double)countdown);
        }
        if (VIBRATO) {
            counter++;
            // The caller made sure the table index cannot leave os_sin's range in this stretch.
            const double scaled = (double)((float)counter * vib_rate) * OS_SIN_SCALE;
            const double m = os_sin_value[(int32_t)scaled & 255];
            step0 = target0 = (float)(m * vib_depth + (double)base0);
            step1 = target1 = (float)(m * vib_depth + (double)base1);
        }
        if (ARPEGGIO) {
            counter++;
            if (counter >= arp_period) {
                arp_index = arp_index >= 2 ? 0 : arp_index + 1;
                counter = 0;
                step0 = target0 = v.arp_step[0][arp_index];
                step1 = target1 = v.arp_step[1][arp_index];
            }
        }
        // A fading gain keeps moving with its target; the other glides end their stretch once they stand still.
        if ((GLIDE_VOLUME && COUNT != SND_COUNT_FADE) || GLIDE_STEP)
            if (!moved) end = i + 1;
    }
    st.volume = volume;
    st.target_volume = target_volume;
    st.phase0 = phase0;
    st.phase1 = phase1;
    st.step0 = step0;
    st.step1 = step1;
    st.target0 = target0;
    st.target1 = target1;
    st.base0 = base0;
    st.base1 = base1;
    st.counter = counter;
    st.arp_index = arp_index;
    st.countdown = countdown;
    st.active = active;
    st.second = second;
    return end;
}

using snd_stretch_fn = int32_t (*)(const snd_mix_voice&, snd_run_state&, double*, double*, int32_t);

// Stretch functions by their flags: bit 0 gain glide, bit 1 step glide, bits 2-3 countdown mode, bit 4 vibrato,
// bit 5 arpeggio (countdown mode 3 does not occur).
template <int32_t F>
constexpr snd_stretch_fn snd_stretch_entry =
    &snd_run_stretch<(F & 1) != 0, (F & 2) != 0, (snd_count_mode)(((F >> 2) & 3) % 3), (F & 16) != 0, (F & 32) != 0>;

template <int32_t... F>
constexpr std::array<snd_stretch_fn, sizeof...(F)> snd_stretch_table(std::integer_sequence<int32_t, F...>) {
    return {snd_stretch_entry<F>...};
}
static constexpr auto snd_stretches = snd_stretch_table(std::make_integer_sequence<int32_t, 64>{});
#endif

// Runs one voice for up to n output samples: for each, its two oscillators' signed contributions (0 where an
// oscillator is silent) go to t0 and t1, and the voice's state moves on as snd_run_sample says. Returns how many
// samples it sounded; a voice whose countdown ends stops there. *two is set when the second oscillator
// contributed. Voices never affect one another, so running each ahead on its own gives the same state as visiting
// them all at every sample. The samples go in stretches over which the per-sample steps that have work to do stay
// the same; with per_sample set every sample goes through snd_run_sample instead.
static int32_t snd_run_voice(const snd_mix_voice& mv, double* t0, double* t1, int32_t n, bool* two, bool per_sample) {
    snd_voice& v = *mv.v;
    snd_run_state st = {v.volume,  v.target_volume,  v.phase[0],       v.phase[1],     v.step[0],
                        v.step[1], v.target_step[0], v.target_step[1], v.base_step[0], v.base_step[1],
                        v.counter, v.arp_index,      v.countdown,      v.active != 0,  false};
    int32_t i = 0;
#if defined(QVL_REPLAY_SMALL)
    // The small build has no stretches: every sample goes through snd_run_sample.
    (void)per_sample;
    for (; i < n && st.active; i++) snd_run_sample(mv, st, t0 + i, t1 + i);
#else
    // A glide found standing still stays still for the rest of this run (see snd_run_stretch).
    bool volume_still = false, step_still = false;
    while (i < n && st.active) {
        if (per_sample || !snd_inside(st.phase0, mv.flength) || !snd_inside(st.phase1, mv.flength) ||
            (v.vibrato && !snd_vibrato_in_range(st.counter, v.vib_rate, n - i))) {
            snd_run_sample(mv, st, t0 + i, t1 + i);
            i++;
            continue;
        }
        const bool count = st.countdown > 0;
        const bool fade = count && v.fading;
        const bool glide_volume = st.volume != st.target_volume && !volume_still && !fade;
        const bool glide_step = (st.target0 != st.step0 || st.target1 != st.step1) && !step_still;
        const int32_t flags = (glide_volume ? 1 : 0) | (glide_step ? 2 : 0) |
                              (fade    ? 8
                               : count ? 4
                                       : 0) |
                              (v.vibrato ? 16 : 0) | (v.arpeggio ? 32 : 0);
        i += snd_stretches[flags](mv, st, t0 + i, t1 + i, n - i);
        // A stretch with a glide that ends early, with the voice sounding and inside the sample, ended because
        // its glides stood still.
        if (i < n && st.active && snd_inside(st.phase0, mv.flength) && snd_inside(st.phase1, mv.flength)) {
            volume_still = volume_still || glide_volume;
            step_still = step_still || glide_step;
        }
    }
#endif
    for (int32_t k = i; k < n; k++) t0[k] = t1[k] = 0.0;
    v.volume = st.volume;
    v.target_volume = st.target_volume;
    v.phase[0] = st.phase0;
    v.phase[1] = st.phase1;
    v.step[0] = st.step0;
    v.step[1] = st.step1;
    v.target_step[0] = st.target0;
    v.target_step[1] = st.target1;
    v.base_step[0] = st.base0;
    v.base_step[1] = st.base1;
    v.counter = st.counter;
    v.arp_index = st.arp_index;
    v.countdown = st.countdown;
    v.active = st.active ? 1 : 0;
    *two = st.second;
    return i;
}

// Converts accumulated values to output samples: clipped to low..high, truncated toward zero, NaN as 0.
static void snd_clip(const float* acc, int16_t* out, int32_t n, int32_t low, int32_t high) {
    int32_t i = 0;
#if defined(__SSE2__) && !defined(QVL_REPLAY_SMALL)
    // Four at a time where the clip limits fit 16 bits, so that packing them cannot saturate.
    if (high <= INT16_MAX && low >= INT16_MIN) {
        const __m128 fhigh = _mm_set1_ps((float)high), flow = _mm_set1_ps((float)low);
        const __m128i ihigh = _mm_set1_epi32(high), ilow = _mm_set1_epi32(low);
        for (; i + 8 <= n; i += 8) {
            __m128i v[2];
            for (int32_t h = 0; h < 2; h++) {
                const __m128 a = _mm_loadu_ps(acc + i + 4 * h);
                const __m128i above = _mm_castps_si128(_mm_cmpge_ps(a, fhigh));
                const __m128i below = _mm_castps_si128(_mm_cmple_ps(a, flow));
                const __m128i nan = _mm_castps_si128(_mm_cmpunord_ps(a, a));
                // A NaN is neither above nor below, so the three masks never overlap.
                __m128i t = _mm_andnot_si128(_mm_or_si128(_mm_or_si128(above, below), nan), _mm_cvttps_epi32(a));
                t = _mm_or_si128(t, _mm_and_si128(above, ihigh));
                v[h] = _mm_or_si128(t, _mm_and_si128(below, ilow));
            }
            _mm_storeu_si128((__m128i*)(out + i), _mm_packs_epi32(v[0], v[1]));
        }
    }
#endif
    for (; i < n; i++) {
        const float a = acc[i];
        int32_t value = 0;
        if (a >= (float)high)
            value = high;
        else if (a <= (float)low)
            value = low;
        else if (a == a) // never converts a NaN
            value = (int32_t)a;
        out[i] = (int16_t)value;
    }
}

// Mixes the samples from..from + count - 1 of a block into block + from and says whether they sound. A block in
// which at one sample no voice sounds is silence as a whole (and the capture skips it); voices only fall silent
// inside a block, when their countdowns run out, so that is known before mixing: the rest of the block is silent
// when no voice sounding now lasts to its end. The silent voices still run, so that they end as they would have.
// Mixed in one call or in several, a block gives the same samples and leaves the voices in the same state.
static bool snd_mix_range(snd_engine* e, int16_t* block, int32_t from, int32_t count, bool per_sample) {
    OS_ASSERT(from >= 0 && count >= 0 && from + count <= SND_BLOCK);
    if (from < 0 || count < 0 || from + count > SND_BLOCK) return false;
    const int32_t low = -(e->sound_amplitude / 2);
    const int32_t high = e->sound_amplitude;
    const int32_t rest = SND_BLOCK - from;
    // The sounding voices are gathered in mixing order (bank 0 voices 0..9, then bank 1).
    snd_mix_voice sounding[2 * SND_VOICES];
    int32_t voices = 0;
    bool lasting = false;
    for (auto& bank : e->snd_voices)
        for (snd_voice& v : bank) {
            if (!v.active || !v.enabled) continue;
            const snd_sample* s = v.sample;
            // Read positions are compared with the length in single precision, which holds lengths up to 2^24.
            OS_ASSERT(s && s->data && s->length > 0 && s->length <= (1 << 24));
            if (!s || !s->data || s->length <= 0 || s->length > (1 << 24)) {
                v.active = 0;
                continue;
            }
            sounding[voices++] = {
                &v, s->data, s->length, (float)s->length, (v.effect >> 4) == SND_FX_INVERTED, e->snd_arp_period};
            // A countdown of c sounds c more samples; 0 or less sounds on.
            if (v.countdown <= 0 || v.countdown >= rest) lasting = true;
        }

    double terms[2 * SND_VOICES][2][SND_MIX_CHUNK]; // per voice and oscillator, one chunk of terms (80 KB)
    for (int32_t start = from; start < from + count; start += SND_MIX_CHUNK) {
        const int32_t n = from + count - start < SND_MIX_CHUNK ? from + count - start : SND_MIX_CHUNK;
        bool two[2 * SND_VOICES];
        for (int32_t j = 0; j < voices; j++)
            snd_run_voice(sounding[j], terms[j][0], terms[j][1], n, &two[j], per_sample);
        if (!lasting) {
            memset(block + start, 0, (size_t)n * sizeof(int16_t));
            continue;
        }
        // The accumulator adds the terms in mixing order, rounding to single precision after each addition.
        // Adding a silent oscillator's 0 would leave it unchanged, so those are skipped.
        float acc[SND_MIX_CHUNK];
        for (int32_t i = 0; i < n; i++) acc[i] = 0.0f;
        for (int32_t j = 0; j < voices; j++) {
            for (int32_t i = 0; i < n; i++) acc[i] = (float)((double)acc[i] + terms[j][0][i]);
            if (two[j])
                for (int32_t i = 0; i < n; i++) acc[i] = (float)((double)acc[i] + terms[j][1][i]);
        }
        snd_clip(acc, block + start, n, low, high);
    }
    return lasting;
}

static void snd_mix_with(snd_engine* e, int16_t* block, bool per_sample) {
#if defined(QVL_REPLAY_ONLY)
    snd_mix_range(e, block, 0, SND_BLOCK, per_sample);
#else
    if (snd_mix_range(e, block, 0, SND_BLOCK, per_sample)) wav_append(e, block);
#endif
}

bool snd_mix_part(snd_engine* e, int16_t* block, int32_t from, int32_t count) {
    return snd_mix_range(e, block, from, count, false);
}

void snd_mix(snd_engine* e, int16_t* block) { snd_mix_with(e, block, false); }

void snd_mix_per_sample(snd_engine* e, int16_t* block) { snd_mix_with(e, block, true); }

// The synthesizer: two banks of two-oscillator voices and the mixer that sums them into 16-bit blocks.
// snd_mix runs on the audio thread (and on the starting thread for the priming blocks) with audio_lock held;
// the voice operations run on whichever thread holds the lock (player tick or editor preview).
//
// Every value stored in a voice field or in the accumulator is single precision; the intermediate results
// inside one expression are double precision. The rounding this gives is part of the sound: songs must
// render to the same samples everywhere.
#include "os_tools.h"
#include "sound.h"

#include <cmath>
#include <cstring>

snd_voice snd_voices[2][SND_VOICES]; // one bank per player slot; voice i plays channel i
int32_t snd_slot;                    // bank addressed by snd_play_note, snd_note_on and snd_set_effect
float snd_note_freq[SND_NOTES];      // note index (octave * 12 + semitone) -> Hz, to a tenth of a hertz

static const bool snd_note_freq_filled = [] {
    for (int32_t n = 0; n < SND_NOTES; n++) {
        const double f = 440.0 * pow(2.0, (n - 57) / 12.0);
        snd_note_freq[n] = (float)(round(f * 10.0) / 10.0);
    }
    return true;
}();

// Oscillator step for a tone of f Hz over samples of 1000 values per period, in exactly this form.
static double snd_step_for(double f) { return 1000.0 / (22050.0 / f); }

static snd_voice* snd_voice_at(int32_t voice) {
    OS_ASSERT(voice >= 0 && voice < SND_VOICES);
    if (voice < 0 || voice >= SND_VOICES) return nullptr;
    OS_ASSERT(snd_slot == 0 || snd_slot == 1);
    return &snd_voices[snd_slot & 1][voice];
}

void snd_reset_voices(int32_t bank) {
    OS_ASSERT(bank >= 0 && bank < 2);
    if (bank < 0 || bank >= 2) return;
    for (snd_voice& v : snd_voices[bank]) {
        const uint8_t enabled = v.enabled;
        memset(&v, 0, sizeof v);
        v.enabled = enabled;
        v.volume = v.target_volume = 1.0f;
        v.channel_pattern = -1;
    }
}

void snd_play_note(int32_t semitone, int32_t octave, int32_t voice, snd_sample* sample, int32_t duration) {
    OS_ASSERT(octave <= 9 && semitone <= 11);
    // Only a loaded module can hold such a note; it has no entry in the frequency table and is not played.
    if (octave < 0 || octave > 9 || semitone < 0 || semitone > 11) return;
    const float f = snd_note_freq[octave * 12 + semitone];
    if (f == 0) return;
    snd_voice* v = snd_voice_at(voice);
    if (!v) return;
    v->semitone = (uint16_t)semitone;
    v->octave = (uint16_t)octave;
    snd_note_on(sample, voice, f, duration);
}

void snd_note_on(snd_sample* sample, int32_t voice, float freq, int32_t duration) {
    snd_voice* v = voice >= 0 && voice < SND_VOICES ? &snd_voices[snd_slot & 1][voice] : nullptr;
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
    if (v->arp_param != 0) snd_set_effect(voice, v->arp_param, 3);
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

void snd_set_effect(int32_t voice, uint8_t param, uint8_t effect) {
    snd_voice* v = snd_voice_at(voice);
    if (!v) return;
    if (effect != v->effect) {
        v->effect = effect;
        v->counter = 0;
        v->arp_index = 0;
    }
    switch (effect & 15) {
    case 4: // fade out over param blocks
        v->countdown = param * SND_BLOCK;
        v->fading = 1;
        break;
    case 3: { // arpeggio: note, note + high nibble, note + low nibble
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
    case 1: // slide up: both targets rise, the current steps glide after them
        if (param != 0) {
            const double s = snd_step_for(param);
            for (float& t : v->target_step) t = (float)((double)t + s);
        }
        break;
    case 2: // slide down, not below 0
        if (param != 0) {
            const double s = snd_step_for(param);
            for (float& t : v->target_step) {
                t = (float)((double)t - s);
                if (t < 0) t = 0;
            }
        }
        break;
    case 6: // detune the second oscillator
        v->target_step[1] = v->base_step[1] = (float)((double)v->target_step[0] + param * (double)0.01f);
        break;
    case 7: // vibrato: rate from the high nibble, depth from the low one
        v->vibrato = 1;
        v->vib_depth = (float)((param & 15) * (double)0.1f);
        v->vib_rate = (float)(0.01 / ((param >> 4) + 1));
        break;
    default:
        break;
    }
    if (effect == 0) {
        v->target_volume = 1.0f;
        v->vibrato = v->arpeggio = v->fading = v->arp_param = 0;
        v->vib_rate = v->vib_depth = 0;
        v->effect = 0;
        v->counter = v->arp_index = 0;
    }
}

// The sample value under a read position. A position at or beyond the length (after a bare change to a
// shorter sample, or a step larger than the sample) is read modulo the length.
static inline float snd_read(const float* data, int32_t length, float flength, float phase) {
    if (phase >= 0 && phase < flength) {
        const int32_t i = (int32_t)phase;
        return data[i < length ? i : length - 1];
    }
    double p = std::isfinite(phase) ? fmod((double)phase, (double)length) : 0.0;
    if (p < 0) p += length;
    int32_t i = (int32_t)p;
    if (i < 0 || i >= length) i = 0;
    return data[i];
}

// What the mixer needs of a sounding voice; none of it can change while a block is mixed.
struct snd_mix_voice {
    snd_voice* v;
    const float* data;
    int32_t length;
    float flength;
    bool inverted; // an effect byte with high nibble 2 turns the output over
};

void snd_mix(int16_t* block) {
    const int32_t low = -(sound_amplitude / 2);
    const int32_t high = sound_amplitude;
    // Voices can only fall silent inside a block, never start: the sounding ones are gathered once, in mixing
    // order (bank 0 voices 0..9, then bank 1), so the loop below visits only those.
    snd_mix_voice sounding[2 * SND_VOICES];
    int32_t count = 0;
    for (auto& bank : snd_voices)
        for (snd_voice& v : bank) {
            if (!v.active || !v.enabled) continue;
            const snd_sample* s = v.sample;
            if (!s || !s->data || s->length <= 0) {
                v.active = 0;
                continue;
            }
            sounding[count++] = {&v, s->data, s->length, (float)s->length, (v.effect >> 4) == 2};
        }
    for (int32_t i = 0; i < SND_BLOCK; i++) {
        // Each oscillator's signed contribution, in mixing order; summed into the accumulator afterwards so that
        // the voices' own work does not wait on the accumulator's rounding chain.
        double terms[4 * SND_VOICES];
        int32_t t = 0;
        int32_t n = 0;
        for (int32_t j = 0; j < count; j++) {
            const snd_mix_voice& mv = sounding[j];
            snd_voice& v = *mv.v;
            if (!v.active) continue;
            n++;
            if (v.volume != v.target_volume)
                v.volume = (float)((double)v.volume + ((double)v.target_volume - (double)v.volume) * (double)0.01f);
            // The second oscillator sounds with the opposite sign of the first, and only while their steps differ.
            const double x = snd_read(mv.data, mv.length, mv.flength, v.phase[0]) * (double)v.volume;
            terms[t++] = mv.inverted ? -x : x;
            if (v.step[1] != v.step[0]) {
                const double y = snd_read(mv.data, mv.length, mv.flength, v.phase[1]) * (double)v.volume;
                terms[t++] = mv.inverted ? y : -y;
            }
            for (int k = 0; k < 2; k++) {
                if (v.target_step[k] != v.step[k]) {
                    v.step[k] =
                        (float)((double)v.step[k] + ((double)v.target_step[k] - (double)v.step[k]) * (double)0.001f);
                    v.base_step[k] = v.step[k];
                }
                // A float sum rounds the exact sum once, just as the double sum rounded to float does.
                v.phase[k] = v.phase[k] + v.step[k];
            }
            if (v.countdown > 0) {
                v.countdown--;
                if (v.countdown == 0)
                    v.active = 0;
                else if (v.fading && v.target_volume > 0)
                    v.target_volume = (float)((double)v.target_volume - (double)v.target_volume / (double)v.countdown);
            }
            if (v.vibrato) {
                v.counter++;
                // Both oscillators swing by the same table sine of the shared counter.
                const double m = os_sin((float)v.counter * v.vib_rate);
                for (int k = 0; k < 2; k++)
                    v.step[k] = v.target_step[k] = (float)(m * v.vib_depth + (double)v.base_step[k]);
            }
            if (v.arpeggio) {
                v.counter++;
                if (v.counter >= snd_arp_period) {
                    v.arp_index = v.arp_index >= 2 ? 0 : v.arp_index + 1;
                    v.counter = 0;
                    v.step[0] = v.target_step[0] = v.arp_step[0][v.arp_index];
                    v.step[1] = v.target_step[1] = v.arp_step[1][v.arp_index];
                }
            }
            for (float& p : v.phase) {
                if (p >= mv.flength) p = p - mv.flength;
                if (p < 0) p = p + mv.flength;
            }
        }
        float acc = 0;
        for (int32_t k = 0; k < t; k++) acc = (float)((double)acc + terms[k]);
        if (n == 0) {
            // Silence at any one sample silences the whole block, and the capture skips it.
            memset(block, 0, SND_BLOCK * sizeof(int16_t));
            return;
        }
        int32_t value = 0;
        if (acc >= (float)high)
            value = high;
        else if (acc <= (float)low)
            value = low;
        else if (acc == acc) // never converts a NaN
            value = (int32_t)acc;
        block[i] = (int16_t)value;
    }
    if (wav_file) wav_append(block);
}

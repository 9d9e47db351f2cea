// The song player: walks a song's rows in song mode (along the order list) or pattern mode (one pattern looping)
// and drives an engine's voices. snd_tick runs once per block, before the block is mixed (snd_render); play and
// stop come from the host. The engine's host keeps the two apart (the tracker holds audio_lock, which also guards
// the song tables its main thread edits).
#include "os_tools.h"
#include "sound.h"

#include <cstring>

void snd_ready_players(snd_engine* e) {
    for (int32_t slot = 0; slot < 2; slot++) {
        snd_reset_voices(e, slot);
        for (int32_t v = 0; v < SND_CHANNELS; v++) e->snd_voices[slot][v].enabled = 1;
        e->snd_players[slot] = nullptr;
    }
}

void snd_init_engine(snd_engine* e) {
    e->sound_amplitude = 32767;
    snd_ready_players(e);
    e->snd_slot = 0;
    e->snd_song_mode = 1;
    e->snd_arp_period = 0;
    e->audio_blocks = 0;
    e->snd_noise_seed = 55;
    memset(e->block, 0, sizeof e->block);
    e->block_done = SND_BLOCK;
    e->block_heard = false;
    e->block_order_pos = e->block_row = 0;
    e->end_with_song = false;
    e->pass_limit = 0;
    e->passes = 0;
    e->row_played = false;
    e->ended = false;
}

// Puts a song into slot 0 with fresh voices; its first row plays two blocks from now.
static void snd_start(snd_engine* e, snd_song* song, uint8_t song_mode) {
    snd_reset_voices(e, 0);
    song->state = 1;
    song->speed = 2;
    song->row_time = e->audio_blocks;
    song->next_row = -1;
    e->snd_song_mode = song_mode;
    e->snd_players[0] = song;
}

void snd_play_song(snd_engine* e, snd_song* song) {
    OS_ASSERT(song != nullptr);
    if (!song) return;
    if (e->snd_players[0]) snd_stop_song(e, e->snd_players[0]);
    song->row = 0; // order_pos stays: playback starts at the position the editor shows
    snd_start(e, song, 1);
}

// Unlike snd_play_song, row is kept: pattern play resumes where the last playback stopped.
void snd_play_pattern(snd_engine* e, snd_song* song) {
    OS_ASSERT(song != nullptr);
    if (!song) return;
    snd_start(e, song, 0);
}

void snd_stop_song(snd_engine* e, snd_song* song) {
    OS_ASSERT(song != nullptr);
    if (!song) return;
    const int32_t saved_slot = e->snd_slot;
    int32_t found = -1;
    if (e->snd_players[0] == song) {
        found = 0;
        e->snd_slot = 0;
    } else if (e->snd_players[1] == song) {
        found = 1;
        e->snd_slot = 1;
    }
    song->state = 0;
    // Every channel stays pinned to the pattern that was current at the stop, until the next start.
    const snd_song* holder = e->snd_players[e->snd_slot & 1];
    for (snd_voice& v : e->snd_voices[e->snd_slot & 1]) {
        v.active = 0;
        if (holder) v.channel_pattern = holder->pattern;
    }
    e->snd_slot = saved_slot;
    if (found >= 0) e->snd_players[found] = nullptr;
}

// The pattern a channel pin names, or null when there is no pin or it no longer names a pattern.
static snd_pattern* snd_pinned_pattern(const snd_song* song, int32_t channel_pattern) {
    if (channel_pattern < 0 || channel_pattern >= song->pattern_count) return nullptr;
    return song->patterns[channel_pattern];
}

// The order position after pos, back to 0 at the end of the list.
static int32_t snd_next_position(const snd_song* song, int32_t pos) {
    const int32_t next = pos + 1;
    return next >= song->order_len ? 0 : next;
}

bool snd_tick(snd_engine* e, snd_song* song, int32_t slot) {
    const int32_t saved_slot = e->snd_slot;
    OS_ASSERT(song != nullptr && slot >= 0 && slot < 2);
    if (!song || slot < 0 || slot >= 2) return false;
    e->snd_slot = slot;
    if (e->audio_blocks < song->row_time + song->speed || song->state == 0) {
        e->snd_slot = saved_slot;
        return false;
    }
    snd_voice* bank = e->snd_voices[slot];
    song->row_time += song->speed;
    if (song->state == 2) {
        song->row++;
    } else if (song->state == 1) {
        song->state = 2;
        for (int32_t c = 0; c < SND_CHANNELS; c++) {
            bank[c].target_volume = 1.0f;
            snd_set_effect(e, c, 0, 0);
        }
        e->snd_arp_period = 551;
        song->speed = 2;
    }
    if (song->next_row >= 0) {
        song->row = song->next_row;
        song->next_row = -1;
    }
    if (song->row >= SND_ROWS || song->row < 0) {
        song->row = 0;
        if (e->snd_song_mode) {
            song->order_pos++;
            if (song->order_pos >= song->order_len) song->order_pos = 0;
        }
        for (int32_t c = 0; c < SND_CHANNELS; c++) bank[c].channel_pattern = -1;
    }

    int32_t new_position = -1;
    const int32_t row = song->row;
    for (int32_t c = 0; c < SND_CHANNELS; c++) {
        snd_voice* v = &bank[c];
        if (e->snd_song_mode) {
            const bool in_list = song->order_pos >= 0 && song->order_pos < song->order_len && song->order;
            OS_ASSERT(in_list);
            if (!in_list) continue;
            const int32_t entry = song->order[song->order_pos];
            OS_ASSERT(entry < song->pattern_count);
            // An entry naming no pattern plays nothing; the song's current pattern stays a valid one.
            if (entry >= song->pattern_count) continue;
            song->pattern = entry;
        }
        const bool have_pattern = song->pattern >= 0 && song->pattern < song->pattern_count && song->patterns;
        OS_ASSERT(have_pattern && song->patterns[song->pattern] != nullptr);
        if (!have_pattern || !song->patterns[song->pattern]) continue;
        snd_pattern* p = song->patterns[song->pattern];

        // Note off, channel pin and speed are read from the song's own pattern, even on a pinned channel.
        if (*snd_cell_flags(p, c, row) & SND_HAS_EFFECT) {
            const uint8_t fx = *snd_cell_field(p, c, SND_FIELD_EFFECT, row);
            const uint8_t param = *snd_cell_field(p, c, SND_FIELD_PARAM, row);
            switch (fx & 15) {
            case SND_FX_OFF:
                v->active = 0;
                if (e->snd_players[slot]) v->channel_pattern = e->snd_players[slot]->pattern;
                break;
            case SND_FX_PATTERN:
                if (param < song->pattern_count) v->channel_pattern = param;
                break;
            case SND_FX_SPEED: {
                song->speed = param & 15;
                const int32_t h = (param >> 4) ? (param >> 4) : 1;
                e->snd_arp_period = 5510 / h;
                break;
            }
            default:
                break;
            }
        }
        if (snd_pattern* pinned = snd_pinned_pattern(song, v->channel_pattern)) p = pinned;

        const uint8_t flags = *snd_cell_flags(p, c, row);
        const uint8_t s = *snd_cell_field(p, c, SND_FIELD_SAMPLE, row);
        // A cell naming a sample the song does not have plays no note and changes no sample.
        const bool sample_ok = s < song->sample_count && song->samples && song->samples[s].data;
        if (flags & (SND_HAS_NOTE | SND_HAS_SAMPLE)) OS_ASSERT(s < song->sample_count);
        const uint8_t note = *snd_cell_field(p, c, SND_FIELD_NOTE, row);
        const bool has_note = flags & SND_HAS_NOTE;
        // A note outside the table (only a loaded module holds one) is not played; its sample still applies.
        const bool note_valid = (note & 15) <= 11 && (note >> 4) <= 9;
        if (has_note) OS_ASSERT(note_valid);
        if (has_note && note_valid) {
            if (sample_ok) snd_play_note(e, note & 15, note >> 4, c, &song->samples[s], -1);
        } else if ((flags & SND_HAS_SAMPLE) && sample_ok) {
            v->sample = &song->samples[s];
        }
        if (flags & SND_HAS_VOLUME) {
            const uint8_t volume = *snd_cell_field(p, c, SND_FIELD_VOLUME, row);
            OS_ASSERT(volume * 16 <= 255);
            v->target_volume = (float)((volume * 16) * 0.003921568859368563);
        }
        if (flags & SND_HAS_EFFECT) {
            const uint8_t fx = *snd_cell_field(p, c, SND_FIELD_EFFECT, row);
            const uint8_t param = *snd_cell_field(p, c, SND_FIELD_PARAM, row);
            switch (fx & 15) {
            case SND_FX_STOP:
                snd_stop_song(e, song);
                break;
            case SND_FX_ROW:
                song->next_row = param;
                break;
            case SND_FX_JUMP:
                if (e->snd_song_mode && param != 255)
                    new_position = param >= song->order_len ? 0 : param;
                else
                    new_position = snd_next_position(song, song->order_pos);
                song->next_row = 0;
                break;
            default:
                snd_set_effect(e, c, param, fx);
                break;
            }
        }
    }
    if (new_position >= 0) song->order_pos = new_position;
    e->snd_slot = saved_slot;
    return true;
}

snd_pattern* snd_channel_pattern(snd_engine* e, snd_song* song, int32_t channel) {
    OS_ASSERT(song != nullptr);
    OS_ASSERT(channel >= 0 && channel < SND_VOICES);
    if (!song || channel < 0 || channel >= SND_VOICES) return nullptr;
    const int32_t pin = e->snd_voices[e->snd_slot & 1][channel].channel_pattern;
    OS_ASSERT(pin < song->pattern_count);
    if (snd_pattern* pinned = snd_pinned_pattern(song, pin)) return pinned;
    if (song->pattern < 0 || song->pattern >= song->pattern_count || !song->patterns) return nullptr;
    return song->patterns[song->pattern];
}

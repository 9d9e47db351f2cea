// Undo and redo of the musician's edits, and whether the song has changed since it was created, loaded or saved.
// Main thread, with audio_lock held: the audio thread plays the song whose cells, order list and pattern table
// are restored here. Owns the undo steps (one os_alloc block of items each) and the copies of what a step is
// about to change.
//
// An editor step says what it is about to change (app_undo_note_*); at its end, what really changed becomes one
// undo step: the changed bytes of each pattern it wrote to, the part of the order list that differs, and the
// patterns it appended or deleted (a deleted one with its 1536 bytes). Never a whole song.
#include "app.h"

#include "os_tools.h"

#include <cstring>

// An item is framed by its payload size in front and behind, so a step can be walked in both directions:
// [int32 size][uint8 kind][payload][int32 size].
enum : uint8_t {
    APP_UNDO_CELLS,  // pattern index (int32), then per changed byte: offset (uint16), byte before, byte after
    APP_UNDO_ORDER,  // first differing entry, entries before, entries after (int32 each), then those entries
    APP_UNDO_ADD,    // index (int32) of a pattern appended empty
    APP_UNDO_REMOVE, // index (int32) of a deleted pattern, then its bytes
};
constexpr int32_t APP_UNDO_FRAME = 9; // size, kind and size around each payload
constexpr int32_t APP_UNDO_SLOTS = 2; // patterns whose cells a step can watch at once

// Where the musician was: the cursor, the current pattern and the order position.
struct app_undo_place {
    int32_t cursor_col, cursor_row, pattern, order_pos;
};

struct app_undo_step {
    uint8_t* data;         // the items
    int32_t size;          // bytes of items
    int32_t capacity;      // bytes allocated for data
    uint32_t id;           // names the state of the song after this step
    app_undo_place before; // where the edit began: undo returns there
    app_undo_place after;  // where it left the cursor: redo returns there
};

int32_t app_undo_budget = APP_UNDO_BUDGET;                     // bytes the steps may hold
static app_undo_step undo_steps[APP_UNDO_STEPS];               // oldest first; the first undo_applied are applied
static int32_t undo_count;                                     // steps held
static int32_t undo_applied;                                   // steps applied; the ones above them can be redone
static int32_t undo_bytes;                                     // bytes allocated for the held steps' items
static uint32_t undo_serial;                                   // last id given out
static uint32_t undo_base_id;                                  // id of the state below the oldest held step
static uint32_t undo_saved_id;                                 // id of the state last created, loaded or saved
static app_undo_step undo_pending;                             // items of the step being recorded, and where it began
static uint8_t undo_before[APP_UNDO_SLOTS][SND_PATTERN_BYTES]; // watched patterns as they were
static int32_t undo_watched[APP_UNDO_SLOTS] = {-1, -1};        // index of each watched pattern, -1 = slot free
static bool undo_order_watched;                                // the order list is watched
static uint8_t* undo_order_before;                             // the watched order list as it was
static int32_t undo_order_before_len;                          // its entries

static app_undo_place app_undo_here() {
    return {app.editor.cursor_col, app.editor.cursor_row, app.song.pattern, app.song.order_pos};
}

// ---- Recording

// Room for n more bytes at the end of the pending step.
static uint8_t* app_undo_reserve(int32_t n) {
    app_undo_step& p = undo_pending;
    if (p.size + n > p.capacity) {
        int32_t capacity = p.capacity ? p.capacity * 2 : 64;
        while (capacity < p.size + n) capacity *= 2;
        uint8_t* grown = (uint8_t*)os_alloc(capacity);
        if (p.data) {
            memcpy(grown, p.data, (size_t)p.size);
            os_free(&p.data);
        }
        p.data = grown;
        p.capacity = capacity;
    }
    uint8_t* at = p.data + p.size;
    p.size += n;
    return at;
}

// Appends an item; returns where its payload goes (valid until the next item).
static uint8_t* app_undo_item(uint8_t kind, int32_t payload) {
    uint8_t* at = app_undo_reserve(payload + APP_UNDO_FRAME);
    memcpy(at, &payload, 4);
    at[4] = kind;
    memcpy(at + 5 + payload, &payload, 4);
    return at + 5;
}

static bool app_undo_pattern_exists(int32_t index) {
    const snd_song& s = app.song;
    return s.patterns && index >= 0 && index < s.pattern_count && s.patterns[index];
}

// The changed bytes of a watched pattern become an item; the slot is free again.
static void app_undo_flush_cells(int32_t slot) {
    const int32_t index = undo_watched[slot];
    undo_watched[slot] = -1;
    if (!app_undo_pattern_exists(index)) return;
    const uint8_t* before = undo_before[slot];
    const uint8_t* now = app.song.patterns[index]->bytes;
    int32_t changed = 0;
    for (int32_t i = 0; i < SND_PATTERN_BYTES; i++) changed += before[i] != now[i];
    if (changed == 0) return;
    uint8_t* out = app_undo_item(APP_UNDO_CELLS, 4 + changed * 4);
    memcpy(out, &index, 4);
    out += 4;
    for (int32_t i = 0; i < SND_PATTERN_BYTES; i++) {
        if (before[i] == now[i]) continue;
        const uint16_t offset = (uint16_t)i;
        memcpy(out, &offset, 2);
        out[2] = before[i];
        out[3] = now[i];
        out += 4;
    }
}

// The part of the order list between the common start and the common end becomes an item.
static void app_undo_flush_order() {
    if (!undo_order_watched) return;
    undo_order_watched = false;
    const snd_song& s = app.song;
    const uint8_t* b = undo_order_before;
    const int32_t b_len = undo_order_before_len;
    const uint8_t* a = s.order;
    const int32_t a_len = s.order ? s.order_len : 0;
    int32_t at = 0;
    while (at < b_len && at < a_len && b[at] == a[at]) at++;
    int32_t tail = 0;
    while (tail < b_len - at && tail < a_len - at && b[b_len - 1 - tail] == a[a_len - 1 - tail]) tail++;
    const int32_t b_n = b_len - at - tail;
    const int32_t a_n = a_len - at - tail;
    if (b_n > 0 || a_n > 0) {
        uint8_t* out = app_undo_item(APP_UNDO_ORDER, 12 + b_n + a_n);
        memcpy(out, &at, 4);
        memcpy(out + 4, &b_n, 4);
        memcpy(out + 8, &a_n, 4);
        if (b_n > 0) memcpy(out + 12, b + at, (size_t)b_n);
        if (a_n > 0) memcpy(out + 12 + b_n, a + at, (size_t)a_n);
    }
    if (undo_order_before) os_free(&undo_order_before);
    undo_order_before_len = 0;
}

// Everything watched so far becomes items, in the order it happened relative to pattern additions and deletions.
static void app_undo_flush() {
    for (int32_t slot = 0; slot < APP_UNDO_SLOTS; slot++)
        if (undo_watched[slot] >= 0) app_undo_flush_cells(slot);
    app_undo_flush_order();
}

void app_undo_note_pattern(int32_t index) {
    if (!app_undo_pattern_exists(index)) return;
    int32_t slot = -1;
    for (int32_t i = 0; i < APP_UNDO_SLOTS; i++) {
        if (undo_watched[i] == index) return;
        if (undo_watched[i] < 0 && slot < 0) slot = i;
    }
    if (slot < 0) {
        for (int32_t i = 0; i < APP_UNDO_SLOTS; i++) app_undo_flush_cells(i);
        slot = 0;
    }
    undo_watched[slot] = index;
    memcpy(undo_before[slot], app.song.patterns[index]->bytes, SND_PATTERN_BYTES);
}

void app_undo_note_order() {
    if (undo_order_watched) return;
    undo_order_watched = true;
    const snd_song& s = app.song;
    undo_order_before_len = s.order && s.order_len > 0 ? s.order_len : 0;
    if (undo_order_before_len == 0) return;
    undo_order_before = (uint8_t*)os_alloc(undo_order_before_len);
    memcpy(undo_order_before, s.order, (size_t)undo_order_before_len);
}

void app_undo_note_add_pattern() {
    app_undo_flush();
    const int32_t index = app.song.pattern_count;
    memcpy(app_undo_item(APP_UNDO_ADD, 4), &index, 4);
}

void app_undo_note_delete_pattern(int32_t index) {
    if (!app_undo_pattern_exists(index)) return;
    app_undo_flush();
    uint8_t* out = app_undo_item(APP_UNDO_REMOVE, 4 + SND_PATTERN_BYTES);
    memcpy(out, &index, 4);
    memcpy(out + 4, app.song.patterns[index]->bytes, SND_PATTERN_BYTES);
    // The deletion points the order entries beyond the shorter table at pattern 0.
    app_undo_note_order();
}

void app_undo_begin() {
    if (undo_pending.size == 0) undo_pending.before = app_undo_here();
}

static void app_undo_free_step(app_undo_step* st) {
    undo_bytes -= st->capacity;
    if (st->data) os_free(&st->data);
    st->size = st->capacity = 0;
}

// Drops the oldest step; the state below it can no longer be reached.
static void app_undo_forget_oldest() {
    if (undo_count == 0) return;
    undo_base_id = undo_steps[0].id;
    app_undo_free_step(&undo_steps[0]);
    memmove(&undo_steps[0], &undo_steps[1], (size_t)(undo_count - 1) * sizeof undo_steps[0]);
    undo_count--;
    memset(&undo_steps[undo_count], 0, sizeof undo_steps[0]);
    if (undo_applied > 0) undo_applied--;
}

void app_undo_commit() {
    app_undo_flush();
    if (undo_pending.size == 0) {
        undo_pending.before = app_undo_here();
        return;
    }
    // A new edit ends every redo.
    while (undo_count > undo_applied) app_undo_free_step(&undo_steps[--undo_count]);
    if (undo_count == APP_UNDO_STEPS) app_undo_forget_oldest();
    app_undo_step& st = undo_steps[undo_count++];
    st = undo_pending;
    st.after = app_undo_here();
    st.id = ++undo_serial;
    undo_applied = undo_count;
    undo_bytes += st.capacity;
    memset(&undo_pending, 0, sizeof undo_pending);
    undo_pending.before = app_undo_here();
    // The newest step always stays, whatever its size.
    while (undo_count > 1 && undo_bytes > app_undo_budget) app_undo_forget_oldest();
}

// ---- Restoring

// Puts a copy of bytes into the pattern table at index, moving the patterns from there on up by one.
static void app_undo_insert_pattern(int32_t index, const uint8_t* bytes) {
    snd_song& s = app.song;
    OS_ASSERT(index >= 0 && index <= s.pattern_count && s.pattern_count < SND_MAX_PATTERNS);
    if (index < 0 || index > s.pattern_count || s.pattern_count >= SND_MAX_PATTERNS) return;
    snd_pattern** table = (snd_pattern**)os_alloc((s.pattern_count + 1) * (int32_t)sizeof(snd_pattern*));
    snd_pattern* block = (snd_pattern*)os_alloc(SND_PATTERN_BYTES);
    memcpy(block->bytes, bytes, SND_PATTERN_BYTES);
    for (int32_t i = 0, j = 0; i <= s.pattern_count; i++) table[i] = i == index ? block : s.patterns[j++];
    snd_pattern** old = s.patterns;
    s.patterns = table;
    s.pattern_count++;
    if (old) os_free(&old);
}

// Replaces the from_n entries at at with the to_n entries of to.
static void app_undo_splice_order(int32_t at, int32_t from_n, const uint8_t* to, int32_t to_n) {
    snd_song& s = app.song;
    const int32_t len = s.order ? s.order_len : 0;
    const int32_t new_len = len - from_n + to_n;
    OS_ASSERT(at >= 0 && from_n >= 0 && at + from_n <= len && new_len > 0);
    if (at < 0 || from_n < 0 || at + from_n > len || new_len <= 0) return;
    uint8_t* list = (uint8_t*)os_alloc(new_len);
    if (at > 0) memcpy(list, s.order, (size_t)at);
    if (to_n > 0) memcpy(list + at, to, (size_t)to_n);
    if (len - at - from_n > 0) memcpy(list + at + to_n, s.order + at + from_n, (size_t)(len - at - from_n));
    uint8_t* old = s.order;
    s.order = list;
    s.order_len = new_len;
    if (old) os_free(&old);
}

static void app_undo_apply_item(uint8_t kind, const uint8_t* payload, int32_t size, bool redo) {
    snd_song& s = app.song;
    int32_t index = 0;
    if (size >= 4) memcpy(&index, payload, 4);
    switch (kind) {
    case APP_UNDO_CELLS: {
        OS_ASSERT(app_undo_pattern_exists(index));
        if (!app_undo_pattern_exists(index)) return;
        uint8_t* bytes = s.patterns[index]->bytes;
        for (const uint8_t* e = payload + 4; e + 4 <= payload + size; e += 4) {
            uint16_t offset;
            memcpy(&offset, e, 2);
            if (offset < SND_PATTERN_BYTES) bytes[offset] = redo ? e[3] : e[2];
        }
        break;
    }
    case APP_UNDO_ORDER: {
        int32_t before_n, after_n;
        memcpy(&before_n, payload + 4, 4);
        memcpy(&after_n, payload + 8, 4);
        const uint8_t* before = payload + 12;
        const uint8_t* after = before + before_n;
        if (redo)
            app_undo_splice_order(index, before_n, after, after_n);
        else
            app_undo_splice_order(index, after_n, before, before_n);
        break;
    }
    case APP_UNDO_ADD:
        if (redo) {
            OS_ASSERT(index == s.pattern_count);
            snd_add_pattern(&s);
        } else if (s.pattern_count >= 2 && index == s.pattern_count - 1) {
            snd_delete_pattern(&s, index);
        }
        break;
    case APP_UNDO_REMOVE:
        // The current pattern keeps naming the same block while the others move (it matters while one loops).
        if (redo) {
            if (s.pattern_count < 2 || !app_undo_pattern_exists(index)) return;
            snd_delete_pattern(&s, index);
            if (s.pattern > index) s.pattern--;
        } else {
            app_undo_insert_pattern(index, payload + 4);
            if (s.pattern >= index) s.pattern++;
        }
        break;
    default:
        OS_ASSERT(kind <= APP_UNDO_REMOVE);
        break;
    }
}

// Applies a step's items, first to last for redo, last to first for undo.
static void app_undo_apply(const app_undo_step& st, bool redo) {
    int32_t at = redo ? 0 : st.size;
    while (redo ? at < st.size : at > 0) {
        int32_t payload;
        if (redo) {
            memcpy(&payload, st.data + at, 4);
            app_undo_apply_item(st.data[at + 4], st.data + at + 5, payload, true);
            at += payload + APP_UNDO_FRAME;
        } else {
            memcpy(&payload, st.data + at - 4, 4);
            at -= payload + APP_UNDO_FRAME;
            app_undo_apply_item(st.data[at + 4], st.data + at + 5, payload, false);
        }
    }
}

// Back to where an edit happened. While the song plays, the player owns the row, the pattern and the order
// position: only the cursor column moves.
static void app_undo_goto(const app_undo_place& to) {
    app_editor& ed = app.editor;
    snd_song& s = app.song;
    ed.cursor_col = to.cursor_col;
    if (s.state == 0) {
        ed.cursor_row = to.cursor_row;
        s.pattern = to.pattern;
        s.order_pos = to.order_pos;
    }
    if (s.pattern >= s.pattern_count) s.pattern = s.pattern_count - 1;
    if (s.pattern < 0) s.pattern = 0;
    if (s.order_pos >= s.order_len) s.order_pos = s.order_len - 1;
    if (s.order_pos < 0) s.order_pos = 0;
    ed.sel_col = ed.sel_row = -1;
    ed.half_entered = 0;
    ed.status_dirty = 1;
    ed.pattern_dirty = 1;
}

bool app_undo() {
    app_undo_commit();
    if (undo_applied == 0) return false;
    const app_undo_step& st = undo_steps[--undo_applied];
    app_undo_apply(st, false);
    app_undo_goto(st.before);
    undo_pending.before = app_undo_here();
    return true;
}

bool app_redo() {
    app_undo_commit();
    if (undo_applied == undo_count) return false;
    const app_undo_step& st = undo_steps[undo_applied++];
    app_undo_apply(st, true);
    app_undo_goto(st.after);
    undo_pending.before = app_undo_here();
    return true;
}

// ---- The song's state

static uint32_t app_undo_state_id() { return undo_applied > 0 ? undo_steps[undo_applied - 1].id : undo_base_id; }

bool app_song_changed() {
    app_undo_flush();
    return undo_pending.size > 0 || app_undo_state_id() != undo_saved_id;
}

void app_undo_mark_saved() {
    app_undo_commit();
    undo_saved_id = app_undo_state_id();
}

// An id no state of the song has, now or later: every state differs from what a file holds.
void app_undo_mark_unsaved() {
    app_undo_commit();
    undo_saved_id = ++undo_serial;
}

void app_undo_clear() {
    while (undo_count > 0) app_undo_free_step(&undo_steps[--undo_count]);
    undo_applied = 0;
    undo_bytes = 0;
    for (int32_t& w : undo_watched) w = -1;
    undo_order_watched = false;
    if (undo_order_before) os_free(&undo_order_before);
    undo_order_before_len = 0;
    if (undo_pending.data) os_free(&undo_pending.data);
    memset(&undo_pending, 0, sizeof undo_pending);
    undo_pending.before = app_undo_here();
    undo_base_id = ++undo_serial;
    undo_saved_id = undo_base_id;
}

int32_t app_undo_depth() { return undo_applied; }
int32_t app_redo_depth() { return undo_count - undo_applied; }
int32_t app_undo_bytes() { return undo_bytes; }

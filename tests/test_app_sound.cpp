// The tracker's sound as a musician meets it: a note played between two steps is heard in the next period while the
// step still writes it (and does not play it twice), the cases the step keeps for itself, the path other note
// sources (MIDI) take, and a tracker without a sound device that says so once, keeps the song's time from the clock,
// records it, and takes up a device plugged in later.
#include "app_fixture.h"
#include "wav_samples.h"

#include <vector>

namespace {

// The device takes its samples as it plays (SDL's way): the test takes each period.
class EarlyPreviewTest : public AppTest {
protected:
    void before_start() override {
        manual_audio_pull = true;
        manual_audio_record = true;
    }
    // Takes one period of n samples; true when any of them sounds.
    bool period_sounds(int32_t n = 256) {
        const size_t at = manual_audio_recorded().size();
        EXPECT_TRUE(manual_audio_take(n));
        const std::vector<int16_t> all = manual_audio_recorded();
        for (size_t i = at; i < all.size(); i++)
            if (all[i] != 0) return true;
        return false;
    }
    snd_voice voice(int32_t channel) {
        app_lock();
        const snd_voice v = audio_engine.snd_voices[0][channel];
        app_unlock();
        return v;
    }
};

TEST_F(EarlyPreviewTest, ANoteKeyBetweenTwoStepsSoundsInTheNextPeriodAndTheStepOnlyWritesIt) {
    step(2);
    EXPECT_FALSE(period_sounds());
    const int32_t undo_before = app_undo_depth();
    down('Q');
    // The event has arrived; no step has run: the cell, undo and the cursor are as they were.
    EXPECT_EQ(flags(0, 0), 0);
    EXPECT_EQ(app_undo_depth(), undo_before);
    EXPECT_EQ(app.editor.cursor_row, 0);
    EXPECT_TRUE(period_sounds());
    const snd_voice before = voice(0);
    EXPECT_EQ(before.active, 1);
    EXPECT_EQ(before.semitone, 0);
    EXPECT_EQ(before.octave, 4);

    step();
    EXPECT_EQ(field(0, SND_FIELD_NOTE, 0), 0x40);
    EXPECT_EQ(flags(0, 0), SND_HAS_NOTE | SND_HAS_SAMPLE);
    EXPECT_EQ(app_undo_depth(), undo_before + 1);
    EXPECT_EQ(app.editor.cursor_row, 1);
    // The step found the note playing and left it: the voice goes on where the period left it (a new start would
    // set its countdown to the preview's 10000 samples again).
    EXPECT_EQ(before.countdown, 10000 - 256);
    const snd_voice after = voice(0);
    EXPECT_EQ(after.countdown, before.countdown);
    EXPECT_EQ(after.phase[0], before.phase[0]);
    EXPECT_TRUE(period_sounds());
    up('Q');
    step();

    // The next press of the same key is a new note again.
    down('Q');
    EXPECT_EQ(voice(0).countdown, 10000);
    step();
    EXPECT_EQ(field(0, SND_FIELD_NOTE, 1), 0x40);
    EXPECT_EQ(app_undo_depth(), undo_before + 2);
}

// Keys that make the note something else, or that the step reads before it, leave the note to the step.
TEST_F(EarlyPreviewTest, TheStepKeepsTheNotesItWouldPlayDifferently) {
    const struct {
        const char* name;
        int32_t first_key; // held down before the note key; 0 for none
        int32_t col;       // cursor column
        bool help;         // the help screen is open
    } cases[] = {
        {"Ctrl makes it a command", VK_CONTROL, 0, false},
        {"the cursor stands on a sample field", 0, 1, false},
        {"the help screen is open", 0, 0, true},
        {"an arrow moves the cursor first", VK_DOWN, 0, false},
        {"Return starts the song first", VK_RETURN, 0, false},
        {"F2 changes the sample first", fkey(2), 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        move_to(c.col, 10);
        if (c.help) tap(fkey(9));
        step(2);
        ASSERT_FALSE(period_sounds());
        if (c.first_key) down(c.first_key);
        down('Q');
        EXPECT_FALSE(period_sounds());
        step();
        up('Q');
        if (c.first_key) up(c.first_key);
        if (c.help) tap(fkey(9));
        // Whatever the step made of it: the song stopped, the voices silent again for the next case.
        if (app.song.state) tap(VK_RETURN);
        app_lock();
        snd_reset_voices(&audio_engine, 0);
        app_unlock();
        step();
    }
    // The arrow moved the cursor first: the step wrote and played the note on the row below.
    EXPECT_EQ(field(0, SND_FIELD_NOTE, 11), 0x40);
}

// Another source of notes (a MIDI keyboard) starts a preview from the loop and lets the step write its note.
TEST_F(EarlyPreviewTest, APreviewStartedNowIsNotStartedAgainByTheStepsPreviewOfTheSameNote) {
    step(2);
    app_preview_now(2, 0x45);
    EXPECT_TRUE(period_sounds());
    const snd_voice started = voice(2);
    EXPECT_EQ(started.active, 1);
    EXPECT_EQ(started.semitone, 5);

    app_lock();
    app_preview_note(app_current_pattern(), 2, 0x45);
    app_unlock();
    EXPECT_EQ(voice(2).countdown, started.countdown);
    EXPECT_EQ(voice(2).phase[0], started.phase[0]);
    // Another note, or the same one on another channel, is a preview of its own.
    app_lock();
    app_preview_note(app_current_pattern(), 1, 0x45);
    app_preview_note(app_current_pattern(), 2, 0x47);
    app_unlock();
    EXPECT_EQ(voice(1).active, 1);
    EXPECT_EQ(voice(2).semitone, 7);
    EXPECT_EQ(voice(2).countdown, 10000);
    // After a step the same note starts again.
    EXPECT_TRUE(period_sounds());
    step();
    EXPECT_LT(voice(2).countdown, 10000);
    app_lock();
    app_preview_note(app_current_pattern(), 2, 0x47);
    app_unlock();
    EXPECT_EQ(voice(2).countdown, 10000);
}

// ---- Without a sound device

class NoDeviceTest : public AppTest {
protected:
    void before_start() override { manual_audio_absent = true; }
};

// C-4 on the 50% square every fourth row of channel 0: sound without a gap for 6.4 s.
void write_notes(snd_pattern* p) {
    for (int32_t row = 0; row < SND_ROWS; row += 4) {
        *snd_cell_field(p, 0, SND_FIELD_NOTE, row) = 0x40;
        *snd_cell_field(p, 0, SND_FIELD_SAMPLE, row) = 2;
        *snd_cell_flags(p, 0, row) = SND_HAS_NOTE | SND_HAS_SAMPLE;
    }
}

TEST_F(NoDeviceTest, SaysSoOnceThenTheClockPlaysAndRecordsTheSongUntilADeviceIsPluggedIn) {
    EXPECT_EQ(audio_device, nullptr);
    step(3);
    EXPECT_EQ(hl_message_boxes, 1);
    EXPECT_EQ(hl_message_text, "No audio device");
    app_lock();
    write_notes(pat());
    app_unlock();

    // WAV starts the song and the capture; it tried the device first. 80 steps are 2 s of the clock.
    const int32_t opens = manual_audio_opens();
    ctrl('W');
    EXPECT_EQ(manual_audio_opens(), opens + 1);
    ASSERT_NE(app.song.state, 0);
    const int32_t blocks = audio_engine.audio_blocks;
    const int32_t row = app.song.row;
    step(80);
    // 2 s are 44100 samples: 40 blocks begun. Row 0 plays two blocks after the start, then a row every two blocks.
    EXPECT_NEAR(audio_engine.audio_blocks - blocks, 40, 1);
    EXPECT_NEAR(app.song.row - row, 18, 1);
    EXPECT_EQ(app.editor.cursor_row, app.song.row); // the grid follows the played row
    ctrl('W');
    EXPECT_EQ(app.song.state, 0);

    // song.wav holds the song as an engine renders it offline, from its first sounding block on.
    snd_engine offline;
    snd_init_engine(&offline);
    snd_song song;
    snd_create_song(&offline, &song, 1);
    write_notes(song.patterns[0]);
    snd_play_song(&offline, &song);
    std::vector<int16_t> expected(60 * SND_BLOCK);
    snd_render(&offline, expected.data(), (int32_t)expected.size());
    snd_free_song(&offline, &song);
    size_t first = 0;
    while (first < expected.size() && expected[first] == 0) first++;
    first -= first % SND_BLOCK;
    const std::vector<int16_t> recorded = test_wav_samples("song.wav");
    ASSERT_GE(recorded.size(), (size_t)(36 * SND_BLOCK));
    ASSERT_LE(recorded.size(), expected.size() - first);
    for (size_t i = 0; i < recorded.size(); i++) ASSERT_EQ(recorded[i], expected[first + i]) << "sample " << i;

    // Each Return tries the device again; once one is plugged in, it plays and the clock stops rendering.
    EXPECT_EQ(manual_audio_opens(), opens + 2);
    tap(VK_RETURN);
    EXPECT_EQ(manual_audio_opens(), opens + 3);
    EXPECT_EQ(audio_device, nullptr);
    tap(VK_RETURN);
    manual_audio_absent = false;
    tap(VK_RETURN);
    EXPECT_EQ(manual_audio_opens(), opens + 5);
    ASSERT_NE(audio_device, nullptr);
    EXPECT_TRUE(audio_thread_running());
    EXPECT_TRUE(manual_audio_is_open());
    const int32_t device_blocks = audio_engine.audio_blocks;
    step(20);
    app_lock();
    EXPECT_EQ(audio_engine.audio_blocks, device_blocks);
    app_unlock();
    play_blocks(3);
    app_lock();
    EXPECT_EQ(audio_engine.audio_blocks, device_blocks + 3);
    app_unlock();
    EXPECT_EQ(hl_message_boxes, 1);
}

} // namespace

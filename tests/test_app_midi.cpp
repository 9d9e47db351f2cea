// Notes from a MIDI keyboard in the tracker: the MIDI keys and velocities it maps, a note-on doing what the typed
// note key does (sample, preview, the cursor's channel and row, the edit step, the played row, undo; only heard
// outside edit mode), the velocity key (Ctrl+K), the help screen and modal dialogs, the native loop opening MIDI input
// and taking its notes after each window event, and the --midi option with --midi list. The test feeds the bytes
// itself, as the backend's thread would (source 0 of the portable queue).
#include "app_fixture.h"

#include "os_midi.h"

#include <cstdio>
#include <vector>

namespace {

class MidiAppTest : public AppTest {
protected:
    // Bytes from the keyboard, then the main loop's turn at the queue.
    void midi(std::vector<uint8_t> bytes) {
        os_midi_feed(0, bytes.data(), bytes.size());
        app_poll_midi();
    }
    std::vector<uint8_t> pattern_bytes() {
        return std::vector<uint8_t>(pat()->bytes, pat()->bytes + SND_PATTERN_BYTES);
    }
};

TEST(MidiMapping, KeysAndVelocities) {
    const struct {
        int32_t key, note;
    } keys[] = {{11, -1}, {12, 0x00}, {23, 0x0B}, {24, 0x10}, {60, 0x40}, {131, 0x9B}, {132, -1}};
    for (const auto& k : keys) EXPECT_EQ(app_midi_key_note(k.key), k.note) << "MIDI key " << k.key;
    // 1..127 onto 1..15, rounded up: 15 * velocity / 127.
    for (int32_t v = 1; v <= 127; v++) {
        const int32_t volume = app_midi_velocity_volume(v);
        EXPECT_TRUE(volume * 127 >= v * 15 && (volume - 1) * 127 < v * 15) << v;
    }
}

// The same note typed on the computer keyboard in channel 1 and played on the MIDI keyboard in channel 2 leaves the
// same cell, the same sounding voice and the same cursor movement.
TEST_F(MidiAppTest, ANoteOnDoesWhatTheTypedNoteKeyDoes) {
    ctrl('2');
    app.editor.cur_sample = 3;
    move_to(5, 10);
    tap('Q'); // C in octave 4
    move_to(10, 10);
    midi({0x90, 60, 100}); // MIDI 60: C-4
    EXPECT_EQ(app.editor.cursor_row, 12) << "the edit step";
    for (int32_t f = 0; f < 5; f++) EXPECT_EQ(field(2, f, 10), field(1, f, 10)) << f;
    EXPECT_EQ(flags(2, 10), SND_HAS_NOTE | SND_HAS_SAMPLE);
    const snd_voice& typed = audio_engine.snd_voices[0][1];
    const snd_voice& played = audio_engine.snd_voices[0][2];
    EXPECT_EQ(played.active, 1);
    EXPECT_EQ(played.sample, &app.song.samples[3]);
    EXPECT_EQ(played.octave, typed.octave);
    EXPECT_EQ(played.semitone, typed.semitone);
    EXPECT_FLOAT_EQ(played.target_volume, 1.0f);
    EXPECT_EQ(app.editor.pattern_dirty, 1) << "the grid is redrawn at the next step";
    step();
    EXPECT_EQ(app.editor.pattern_dirty, 0);
}

TEST_F(MidiAppTest, NotesGoToTheCursorsChannelFromAnyFieldAcrossEveryOctave) {
    move_to(18, 0);                                                      // channel 3, effect parameter field
    midi({0x90, 12, 1, 127, 1, 71, 127, 11, 100, 5, 100, 0x99, 48, 64}); // C-0, G-9, B-4, too low twice, C-3
    EXPECT_EQ(field(3, SND_FIELD_NOTE, 0), 0x00);
    EXPECT_EQ(field(3, SND_FIELD_NOTE, 1), 0x97);
    EXPECT_EQ(field(3, SND_FIELD_NOTE, 2), 0x4B);
    EXPECT_EQ(field(3, SND_FIELD_NOTE, 3), 0x30);
    EXPECT_EQ(flags(3, 4), 0) << "notes below C-0 are ignored";
    EXPECT_EQ(app.editor.cursor_row, 4);
    EXPECT_EQ(app.editor.cursor_col, 18) << "the cursor stays in its field";
    EXPECT_EQ(audio_engine.snd_voices[0][3].octave, 3);
    EXPECT_EQ(app_undo_depth(), 4) << "each note is one undo step";
    ctrl('Z');
    EXPECT_EQ(flags(3, 3), 0);
    EXPECT_EQ(app.editor.cursor_row, 3) << "the cursor goes back to where the note was written";
    ctrl('Y');
    EXPECT_EQ(field(3, SND_FIELD_NOTE, 3), 0x30);
}

TEST_F(MidiAppTest, OutsideEditModeANoteIsOnlyHeard) {
    tap(VK_SPACE);
    const std::vector<uint8_t> before = pattern_bytes();
    midi({0x90, 67, 100});
    EXPECT_EQ(pattern_bytes(), before);
    EXPECT_EQ(app.editor.cursor_row, 0);
    EXPECT_EQ(audio_engine.snd_voices[0][0].active, 1);
    EXPECT_EQ(audio_engine.snd_voices[0][0].semitone, 7);
    EXPECT_EQ(app_undo_depth(), 0);
}

TEST_F(MidiAppTest, CtrlKWritesTheVelocityAsVolume) {
    EXPECT_EQ(app.editor.midi_velocity, 0) << "off at start";
    midi({0x90, 60, 127});
    EXPECT_EQ(flags(0, 0), SND_HAS_NOTE | SND_HAS_SAMPLE);
    ctrl('K');
    EXPECT_EQ(app.editor.midi_velocity, 1);
    EXPECT_EQ(log.count("MIDI velocity on"), 1);
    midi({0x90, 62, 1, 64, 64, 65, 100, 67, 127});
    const uint8_t volumes[] = {1, 8, 12, 15};
    for (int32_t r = 1; r <= 4; r++) {
        EXPECT_EQ(flags(0, r), SND_HAS_NOTE | SND_HAS_SAMPLE | SND_HAS_VOLUME) << r;
        EXPECT_EQ(field(0, SND_FIELD_VOLUME, r), volumes[r - 1]) << r;
    }
    EXPECT_FLOAT_EQ(audio_engine.snd_voices[0][0].target_volume, 1.0f) << "heard as a typed note is";
    ctrl('K');
    EXPECT_EQ(app.editor.midi_velocity, 0);
    midi({0x90, 69, 10});
    EXPECT_EQ(flags(0, 5), SND_HAS_NOTE | SND_HAS_SAMPLE);
    // Ctrl+K writes nothing itself and types no note.
    EXPECT_EQ(app_undo_depth(), 6);
}

TEST_F(MidiAppTest, WhileTheSongPlaysTheNoteLandsOnThePlayedRow) {
    tap(VK_RETURN);
    play_blocks(3 + 2 * 5); // row 0 with the third block, then a row every two blocks
    step();
    ASSERT_EQ(app.song.row, 5);
    midi({0x90, 60, 100});
    EXPECT_EQ(flags(0, 5), SND_HAS_NOTE | SND_HAS_SAMPLE);
    tap(VK_RETURN);
}

TEST_F(MidiAppTest, TheHelpScreenAndModalDialogsKeepNotesOut) {
    tap(fkey(9));
    ASSERT_EQ(app.help_open, 1);
    midi({0x90, 60, 100});
    EXPECT_EQ(flags(0, 0), 0);
    EXPECT_EQ(audio_engine.snd_voices[0][0].active, 0);
    tap(VK_ESCAPE);
    // Notes played while the open dialog has the program belong to nobody: they are not written afterwards.
    hl_open_answer.clear();
    hl_on_modal = [] {
        const uint8_t bytes[] = {0x90, 60, 100};
        os_midi_feed(0, bytes, sizeof bytes);
    };
    ctrl('L');
    EXPECT_EQ(hl_dialogs, 1);
    app_poll_midi();
    EXPECT_EQ(flags(0, 0), 0);
    midi({0x90, 60, 100});
    EXPECT_EQ(flags(0, 0), SND_HAS_NOTE | SND_HAS_SAMPLE);
}

// The native loop opens MIDI input with the entry point's choice after the start-up, takes each note right after
// the window event it follows, and closes the input before the shut-down.
TEST(MidiRun, TheLoopOpensTakesAndCloses) {
    LogCapture log;
    manual_audio_reset_state();
    hl_reset_loop();
    app_midi_api = OS_MIDI_JACK;
    int32_t api_while_running = -1;
    uint8_t flags_after = 0;
    hl_push_call([&] {
        api_while_running = hl_midi_api;
        const uint8_t bytes[] = {0x90, 60, 100};
        os_midi_feed(0, bytes, sizeof bytes);
    });
    hl_push_call([&] { flags_after = *snd_cell_flags(app.song.patterns[0], 0, 0); });
    hl_push_call([] { hl_ask_answer = OS_ANSWER_DISCARD; });
    hl_push_quit();
    app_run();
    app_midi_api = OS_MIDI_OFF;
    EXPECT_EQ(api_while_running, OS_MIDI_JACK);
    EXPECT_EQ(hl_midi_opens, 1);
    EXPECT_EQ(hl_midi_api, OS_MIDI_OFF) << "closed again";
    EXPECT_EQ(flags_after, SND_HAS_NOTE | SND_HAS_SAMPLE) << "taken after the event it came with";
    EXPECT_EQ(log.asserts(), 0) << log.text();
    EXPECT_EQ(os_alloc_count, 0);
}

TEST(MidiRun, OffMeansNotOpened) {
    LogCapture log;
    manual_audio_reset_state();
    hl_reset_loop();
    app_midi_api = OS_MIDI_OFF;
    hl_push_quit();
    app_run();
    EXPECT_EQ(hl_midi_opens, 0);
    EXPECT_EQ(log.count("MIDI: off"), 1);
}

TEST(MidiCommandLine, TheMidiOption) {
    const struct {
        std::vector<const char*> args;
        int32_t action;
        int32_t midi;
        const char* error;
    } rows[] = {
        {{}, APP_CMD_RUN, OS_MIDI_AUTO, nullptr},
        {{"--midi", "none"}, APP_CMD_RUN, OS_MIDI_OFF, nullptr},
        {{"--midi=jack", "a.qvl"}, APP_CMD_RUN, OS_MIDI_JACK, nullptr},
        {{"--midi", "alsa"}, APP_CMD_RUN, OS_MIDI_ALSA, nullptr},
        {{"--midi", "auto"}, APP_CMD_RUN, OS_MIDI_AUTO, nullptr},
        {{"--midi", "list"}, APP_CMD_MIDI_LIST, OS_MIDI_AUTO, nullptr},
        {{"--midi", "alsa", "--midi", "list"}, APP_CMD_MIDI_LIST, OS_MIDI_ALSA, nullptr},
        {{"--midi", "list", "--help"}, APP_CMD_HELP, OS_MIDI_AUTO, nullptr},
        {{"--midi"}, APP_CMD_ERROR, OS_MIDI_AUTO, "--midi needs a value"},
        {{"--midi", "usb"}, APP_CMD_ERROR, OS_MIDI_AUTO, "--midi takes auto, alsa, jack, none or list, not 'usb'"},
    };
    for (const auto& row : rows) {
        std::vector<const char*> argv{"quavlo"};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        app_command_line out;
        app_read_command_line((int)argv.size(), argv.data(), nullptr, &out);
        std::string shown;
        for (const char* a : argv) shown += std::string(a) + " ";
        EXPECT_EQ(out.action, row.action) << shown;
        if (row.action == APP_CMD_RUN || row.action == APP_CMD_MIDI_LIST) { EXPECT_EQ(out.midi, row.midi) << shown; }
        if (row.error) { EXPECT_NE(std::string(out.error).find(row.error), std::string::npos) << shown << out.error; }
    }
    EXPECT_NE(std::string(app_help_text).find("--midi MODE"), std::string::npos);
}

std::string listed(int32_t midi) {
    app_command_line command = {};
    command.action = APP_CMD_MIDI_LIST;
    command.midi = midi;
    FILE* out = tmpfile();
    EXPECT_EQ(app_list_midi_ports(command, out), 0);
    rewind(out);
    std::string text;
    for (int c; (c = fgetc(out)) != EOF;) text += (char)c;
    fclose(out);
    return text;
}

TEST(MidiCommandLine, ListNamesThePorts) {
    hl_reset();
    hl_midi_ports = {"kb:out", "synth:midi_out"};
    EXPECT_EQ(listed(OS_MIDI_JACK), "MIDI input ports (JACK):\n  kb:out\n  synth:midi_out\n");
    hl_midi_ports.clear();
    EXPECT_EQ(listed(OS_MIDI_ALSA), "No MIDI input ports (ALSA sequencer).\n");
    hl_midi_open_result = 0;
    EXPECT_EQ(listed(OS_MIDI_JACK), "No MIDI input: JACK is not available.\n");
    EXPECT_EQ(listed(OS_MIDI_OFF), "MIDI input is off.\n");
    hl_reset();
}

} // namespace

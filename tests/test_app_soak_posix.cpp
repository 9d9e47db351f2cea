// An hour of a musician's use in a few seconds: 144,000 steps of 25 ms with a block of sound handed back every
// second step (72,000 blocks, an hour of audio), random keys and button clicks, note cuts, edit steps, transposes,
// the help screen, NEW, LOAD, SAVE (module and header), WAV, undo and redo, the dialogs and the save question answered
// at random. Checks: no assertion in the log, the
// live blocks back to none after shut-down, and resident memory no higher in the last quarter than in the second.
// Under the sanitizers (and so under ThreadSanitizer, against the live audio thread) a tenth of it runs, without the
// memory check.
#include "app_fixture.h"

#include <cstdio>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int64_t SOAK_STEPS = 14400; // six minutes of use
// The sanitizers' allocators hold freed memory back for a while, so resident memory grows there whatever the
// program does; LeakSanitizer and the block count stand in for the check.
constexpr bool SOAK_CHECK_RESIDENT = false;
#else
constexpr int64_t SOAK_STEPS = 144000; // one hour of use
constexpr bool SOAK_CHECK_RESIDENT = true;
#endif
constexpr int64_t SOAK_MEMORY_SLACK = 2 << 20; // bytes the last quarter may reach above the second's highest
constexpr int32_t SOAK_WAV_BLOCKS = 400;       // a capture is stopped after about this many blocks
constexpr int64_t SOAK_DRAW_EVERY = 128;       // every how many steps the frame is drawn and presented

// Resident memory of this process in bytes.
int64_t resident_bytes() {
    FILE* f = fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (f && fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    if (f) fclose(f);
    return (int64_t)resident * sysconf(_SC_PAGESIZE);
}

class SoakTest : public AppTest {
protected:
    int64_t steps = 0;
    std::mt19937 random{16};

    int pick(int n) { return (int)(random() % (uint32_t)n); }

    // One step; every second one also hands a block back to the audio thread. Composing and presenting the frame
    // costs most of a step, so every SOAK_DRAW_EVERY-th step runs the whole frame loop step, the others the
    // editor's update and the key counters alone (the redraw flags they set are drawn at the next whole step).
    void tick() {
        if (++steps % SOAK_DRAW_EVERY == 0) {
            step();
        } else {
            hl_advance_ms(25);
            app_update();
            os_advance_keys();
        }
        if (steps % 2 == 0) play_blocks(1);
    }
    void press(int32_t vk) {
        down(vk);
        tick();
        up(vk);
    }
    void with(int32_t modifier, int32_t vk) {
        down(modifier);
        press(vk);
        up(modifier);
    }
    void press_button(const ui_button& b) {
        click(b);
        steps += 3;
    }

    // The answers the next dialog and save question get.
    void script_answers() {
        const char* saves[] = {"soak.qvl", "soak.h", ""};
        const int save = pick(3);
        hl_save_answer = saves[save];
        hl_save_type = save == 1 ? OS_FILE_HEADER : OS_FILE_MODULE;
        const char* opens[] = {"soak.qvl", "missing.qvl", "soak.h", ""};
        hl_open_answer = opens[pick(4)];
        const int answers[] = {OS_ANSWER_SAVE, OS_ANSWER_DISCARD, OS_ANSWER_CANCEL};
        hl_ask_answer = answers[pick(3)];
    }

    void random_action() {
        static const char notes[] = "Q2W3ER5T6Y7UIZSXDCVGBHNJM";
        static const int32_t moves[] = {VK_LEFT, VK_RIGHT, VK_UP, VK_DOWN, VK_PRIOR, VK_NEXT, VK_HOME, VK_END};
        const int roll = pick(1000);
        if (roll < 500) {
            tick(); // listening
        } else if (roll < 700) {
            // Note keys in the note column; elsewhere the letters A..F are values, and a sample or volume the song
            // cannot have is reported by the player with an assertion line, as it should be.
            if (app.editor.cursor_col % 5 == 0)
                press((uint8_t)notes[pick((int)sizeof notes - 1)]);
            else
                press(VK_LEFT);
        } else if (roll < 800) {
            press(moves[pick(8)]);
        } else if (roll < 830) {
            // Values into the effect and parameter fields only, likewise.
            if (app.editor.cursor_col % 5 >= 3) press('0' + pick(10));
        } else if (roll < 850) {
            press(pick(2) ? VK_DELETE : VK_BACK); // clear, note cut
        } else if (roll < 870) {
            // Now and then the help screen, opened and closed again.
            if (pick(10) == 0) {
                press(fkey(9));
                press(pick(2) ? fkey(9) : VK_ESCAPE);
            } else {
                press(fkey(1 + pick(8)));
            }
        } else if (roll < 880) {
            with(VK_SHIFT, moves[pick(4)]); // a selection
        } else if (roll < 890) {
            // Copy, paste, transposes.
            with(VK_CONTROL, pick(2) ? "CV"[pick(2)] : fkey(5 + pick(4)));
        } else if (roll < 920) {
            with(VK_CONTROL, "ZY"[pick(2)]); // undo, redo
        } else if (roll < 930) {
            with(VK_CONTROL, "AD0148"[pick(6)]); // order list entries, edit steps
        } else if (roll < 960) {
            press(VK_RETURN); // play, stop
        } else if (roll < 970) {
            press(VK_SPACE); // edit mode
        } else if (roll < 998) {
            tick();
        } else {
            script_answers();
            const ui_button* buttons[] = {&app.btn_new, &app.btn_load, &app.btn_save, &app.btn_wav};
            if (pick(2))
                press_button(*buttons[pick(4)]);
            else
                with(VK_CONTROL, "OLSW"[pick(4)]);
        }
        if (audio_engine.capture.wav_file && audio_engine.capture.wav_samples > SOAK_WAV_BLOCKS * SND_BLOCK)
            with(VK_CONTROL, 'W');
    }
};

TEST_F(SoakTest, AnHourOfUseLeavesNoAssertionLeakOrGrowth) {
    // The log's lines would cost more than the hour itself on the way to the terminal; the capture keeps them.
    fflush(stdout);
    const int saved_stdout = dup(1);
    const int null_out = open("/dev/null", O_WRONLY);
    ASSERT_GE(saved_stdout, 0);
    dup2(null_out, 1);

    int asserts = 0;
    int64_t highest[4] = {0, 0, 0, 0}; // resident bytes per quarter
    std::string first_assert;
    while (steps < SOAK_STEPS) {
        random_action();
        if (steps % 500 < 4) {
            const int found = log.asserts();
            if (found && first_assert.empty()) first_assert = log.text().substr(0, 4000);
            asserts += found;
            log.clear();
            int64_t& h = highest[std::min<int64_t>(3, steps * 4 / SOAK_STEPS)];
            h = std::max(h, resident_bytes());
        }
    }
    stop();
    asserts += log.asserts();

    fflush(stdout);
    dup2(saved_stdout, 1);
    close(saved_stdout);
    close(null_out);

    EXPECT_EQ(asserts, 0) << first_assert;
    EXPECT_EQ(os_alloc_count, 0) << "blocks left after shut-down";
    EXPECT_GT(highest[1], 0);
    if (SOAK_CHECK_RESIDENT) {
        EXPECT_LE(highest[3], highest[1] + SOAK_MEMORY_SLACK)
            << "resident memory grew from " << highest[1] << " to " << highest[3] << " bytes";
    }
    EXPECT_GT(hl_dialogs, 10) << "the hour went through the file commands";
    printf("soak: %lld steps, %d dialogs, %d save questions, %d message boxes; resident memory, highest per quarter: "
           "%lld %lld %lld %lld KiB\n",
           (long long)steps, hl_dialogs, hl_questions, hl_message_boxes, (long long)highest[0] >> 10,
           (long long)highest[1] >> 10, (long long)highest[2] >> 10, (long long)highest[3] >> 10);
}

} // namespace

#!/usr/bin/env python3
"""The real tracker in a virtual X server, with the aids a musician reaches for: the help screen (F9) opened and
closed leaves the screen as it was; a note cut, edit step 4 and transposes are written and undone (checked in the
saved modules with quavlo-cli dump); SAVE onto an existing file, with the name the dialog offers, answered No in the
dialog's own question keeps the file; with the order list 00 00 01 01 the order strip follows the entry being
played, and Enter after a stop starts from the entry shown.

Usage: editing_aids.py QUAVLO QUAVLO_CLI
Exit status: 0 passed, 1 failed, 77 a needed tool is missing (the test is skipped).
"""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_e2e  # noqa: E402  (Xvfb, window search, screenshots, the save question, close request)
from app_session import Session, count_colour, dump, start  # noqa: E402  (the tracker, keys, dialogs, dump)
from run_e2e import Failure, log, run, wait_for  # noqa: E402

HELP_BACKGROUND = 0x000064  # the help panel (and the order strip)
ORDER_CURRENT = 0x6400FF  # the highlighted order entry


def highlighted(rows, entries):
    """The order entries the strip highlights: entry i spans x 120 + 24 i .. + 23, its fill shows at y 490."""
    return [i for i in range(entries) if rows[490][120 + 24 * i + 1] == ORDER_CURRENT]


def zenity_windows(env):
    return run(["xdotool", "search", "--onlyvisible", "--class", "zenity"], env, check=False).stdout.split()


def channel0(module):
    """Channel 0 of pattern 0 as (row, flags, fields) tuples."""
    return [(c["row"], c["flags"], c["fields"]) for c in module["patterns"][0] if c["channel"] == 0]


def session(quavlo, cli, display, workdir):
    env, program, log_path = start(quavlo, display, workdir)
    try:
        wid = run_e2e.find_window(env, program)
        s = Session(env, wid)
        wait_for(lambda: run_e2e.distinct_colours(s.shot()) >= 4, 10, "the window's picture stayed blank")
        fresh = s.settled_shot()

        def same_as(picture, what):
            wait_for(lambda: run_e2e.differing_pixels(picture, s.shot()) == 0, 10, what)

        # The help screen covers the grid and goes without a trace, by Escape and by F9 again.
        s.hold("F9")
        shown = wait_for(lambda: (lambda p: p if count_colour(p, HELP_BACKGROUND) > 150000 else None)(s.shot()), 10,
                         "F9 did not show the help screen")
        s.hold("Escape")
        same_as(fresh, "Escape did not bring back the screen as it was")
        s.hold("F9")
        same_as(shown, "F9 did not show the same help screen again")
        s.hold("F9")
        same_as(fresh, "F9 did not close the help screen without a trace")
        log("help screen: %d pixels over the grid, closed by Escape and by F9 without a trace" %
            run_e2e.differing_pixels(fresh, shown))

        def save(name):
            path = os.path.join(workdir, name)
            s.hold("Control_L", "s")
            s.dialog("Save As", path)
            wait_for(lambda: os.path.exists(path), 10, name + " was not written")
            return path

        # Edit step 4: notes on rows 0, 4, 8 and a note cut on row 12; a semitone and an octave up.
        s.hold("Control_L", "4")
        for key in ("q", "w", "e", "BackSpace"):
            s.hold(key, seconds=0.06)
        s.hold("Control_L", "F6")
        s.hold("Control_L", "F8")
        edited = channel0(dump(cli, save("edited.qvl")))
        want = [(0, 3, [0x51, 0, 0, 0, 0]), (4, 3, [0x53, 0, 0, 0, 0]), (8, 3, [0x55, 0, 0, 0, 0]),
                (12, 24, [0, 0, 0, 0, 0])]
        if edited != want:
            raise Failure("edit step, note cut and transposes saved as %s" % edited)
        for _ in range(6):
            s.hold("Control_L", "z")
        undone_path = save("undone.qvl")
        if dump(cli, undone_path)["patterns"] != [[]]:
            raise Failure("undoing the six edits did not give an empty pattern")
        s.hold("Control_L", "1")
        log("edit step 4, note cut and transposes written as expected and undone")

        # SAVE with the offered name onto the file just written, answered No in the dialog's question: kept.
        kept = open(undone_path, "rb").read()
        s.hold("t", seconds=0.06)
        s.hold("Control_L", "s")
        dialog = wait_for(lambda: run(["xdotool", "search", "--name", "^Save As$"], env, check=False).stdout.split(),
                          20, 'no "Save As" dialog appeared')[-1].decode()
        time.sleep(0.8)  # the dialog builds its widgets after mapping
        s.xdo("windowfocus", "--sync", dialog)
        s.xdo("key", "Return")  # the offered name, in the song's folder
        question = wait_for(lambda: len(zenity_windows(env)) >= 2, 10, "no question before replacing undone.qvl")
        time.sleep(0.5)
        s.xdo("windowfocus", "--sync", zenity_windows(env)[-1].decode())
        s.xdo("key", "Escape")
        wait_for(lambda: len(zenity_windows(env)) == 1, 10, "the question stayed open after No")
        s.xdo("windowfocus", "--sync", zenity_windows(env)[0].decode())
        s.xdo("key", "Escape")
        wait_for(lambda: not zenity_windows(env), 10, "the save dialog stayed open after cancelling")
        time.sleep(0.5)
        if open(undone_path, "rb").read() != kept:
            raise Failure("undone.qvl changed although replacing it was refused")
        log("SAVE onto undone.qvl with the offered name asked first (%s); No kept the file" % bool(question))

        # The order list 00 00 01 01 at a row per block (effect 0F 00 in row 0): the strip follows every entry.
        s.hold("Control_L", "F3")
        for _ in range(3):
            s.hold("Control_L", "a")
        for keys in (["Right"] * 2, ["Up"], ["Right"], ["Up"], ["Left"] * 3):
            for key in keys:
                s.hold("Control_L", key)
        s.hold("Up", seconds=1.0)
        s.focus()
        s.xdo("key", "--delay", "60", *(["Right"] * 18))
        s.hold("f", seconds=0.06)
        start_shot = s.settled_shot()
        if highlighted(start_shot, 4) != [0]:
            raise Failure("before playing the strip highlights %s, not entry 0" % highlighted(start_shot, 4))
        s.hold("Return")
        seen = []
        deadline = time.time() + 20
        while time.time() < deadline and seen[-1:] != [3]:
            now = highlighted(s.shot(), 4)
            if len(now) != 1:
                raise Failure("the strip highlights %s while playing" % now)
            if not seen or seen[-1] != now[0]:
                seen.append(now[0])
        if seen != [0, 1, 2, 3]:
            raise Failure("while playing 00 00 01 01 the strip showed the entries %s" % seen)
        wait_for(lambda: highlighted(s.shot(), 4) == [0], 10, "the song did not go round to entry 0")
        wait_for(lambda: highlighted(s.shot(), 4) == [1], 10, "the strip did not come to entry 1 again")
        s.hold("Return")
        time.sleep(0.3)
        shown_entry = highlighted(s.settled_shot(), 4)
        s.hold("Return")
        first = highlighted(s.shot(), 4)
        s.hold("Return")
        if shown_entry != [1] or first != [1]:
            raise Failure("stopped at entry %s, Enter played from %s" % (shown_entry, first))
        log("the strip followed the entries %s, and Enter after a stop played from entry 1 as shown" % seen)

        run_e2e.close_window(display, wid)
        run_e2e.answer_question(env, "discard")
        run_e2e.expect_exit(program, "the window was closed")
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()

    run_e2e.expect_no_assertion(log_path)


if __name__ == "__main__":
    sys.exit(run_e2e.tracker_and_cli_main(__doc__, "quavlo-aids-", session))

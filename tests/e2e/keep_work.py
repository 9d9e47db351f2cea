#!/usr/bin/env python3
"""The real tracker in a virtual X server keeps the musician's work: NEW answered "cancel" and "discard", undo and
redo of a paste checked on the saved modules' bytes, the grid after a stop and Ctrl+F1, and closing answered "save".

Usage: keep_work.py QUAVLO QUAVLO_CLI
Exit status: 0 passed, 1 failed, 77 a needed tool is missing (the test is skipped).
"""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_e2e  # noqa: E402  (Xvfb, window search, screenshots, the save question, close request)
from app_session import Session, dump, start  # noqa: E402  (the tracker, key presses, dialogs, quavlo-cli dump)
from run_e2e import Failure, log, wait_for  # noqa: E402


def notes(module):
    return sorted((c["channel"], c["row"], c["fields"][0]) for p in module["patterns"] for c in p)


def session(quavlo, cli, display, workdir):
    env, program, log_path = start(quavlo, display, workdir)
    try:
        wid = run_e2e.find_window(env, program)
        s = Session(env, wid)
        wait_for(lambda: run_e2e.distinct_colours(s.shot()) >= 4, 10, "the window's picture stayed blank")
        fresh = s.settled_shot()

        def same_as(picture, what):
            wait_for(lambda: run_e2e.differing_pixels(picture, s.shot()) == 0, 10, what)

        # NEW with unsaved notes: "cancel" keeps them, "discard" gives an empty song.
        for key in "qwer":
            s.hold(key, seconds=0.06)
        typed = s.settled_shot()
        s.hold("Control_L", "o")
        run_e2e.answer_question(env, "cancel")
        same_as(typed, "the song changed although the question was cancelled")
        s.hold("Control_L", "o")
        run_e2e.answer_question(env, "discard")
        s.hold("Up", seconds=1.0)
        same_as(fresh, "NEW answered with discard did not give an empty song")
        log("NEW: cancel kept the notes, discard emptied the song")

        def save(name):
            path = os.path.join(workdir, name)
            s.hold("Control_L", "s")
            s.dialog("Save As", path)
            wait_for(lambda: os.path.exists(path), 10, name + " was not written")
            return open(path, "rb").read()

        # Undo and redo of a paste: the module bytes before the paste, after it, after undo and after redo.
        for key in "qwer":
            s.hold(key, seconds=0.06)
        s.hold("Up", seconds=1.0)
        before = save("before.qvl")
        s.focus()
        s.xdo("keydown", "Shift_L")
        s.xdo("key", "--delay", "60", "Down", "Down", "Down")
        s.xdo("keyup", "Shift_L")
        time.sleep(0.1)
        s.hold("Control_L", "c")
        s.xdo("key", "--delay", "60", *(["Right"] * 10 + ["Down"] * 5))
        s.hold("Control_L", "v")
        pasted = save("pasted.qvl")
        s.hold("Control_L", "z")
        undone = save("undone.qvl")
        s.hold("Control_L", "y")
        redone = save("redone.qvl")
        want = [(0, r, n) for r, n in enumerate([0x40, 0x42, 0x44, 0x45])]
        if notes(dump(cli, os.path.join(workdir, "before.qvl"))) != want:
            raise Failure("the typed notes were not saved as typed")
        if notes(dump(cli, os.path.join(workdir, "pasted.qvl"))) != sorted(want + [(2, 8 + r, n) for _, r, n in want]):
            raise Failure("the paste did not land in channel 2, rows 8..11")
        if undone != before or redone != pasted:
            raise Failure("undo and redo of the paste did not restore the exact bytes")
        log("paste undone and redone: the saved modules match byte for byte (%d and %d bytes)" %
            (len(undone), len(redone)))

        # After a stop the channels stay on the pattern that played; Ctrl+F1 must bring the grid to pattern 0.
        s.hold("Control_L", "F3")
        s.hold("Up", seconds=2.5)
        s.hold("Left", seconds=1.0)
        pattern0 = s.settled_shot()
        s.hold("Control_L", "F2")
        s.hold("z", seconds=0.06)
        s.hold("Control_L", "Return")
        time.sleep(0.8)
        s.hold("Control_L", "Return")
        s.hold("Control_L", "F1")
        s.hold("Up", seconds=2.5)
        same_as(pattern0, "after a stop and Ctrl+F1 the grid does not show pattern 0, the one the status line names")
        log("after a stop and Ctrl+F1 the grid shows the pattern the status line names")

        # Closing with unsaved work (the new pattern, and G-4 over the C-4 in row 0): answer "save", choose a file.
        s.hold("t", seconds=0.06)
        closed = os.path.join(workdir, "closed.qvl")
        run_e2e.close_window(display, wid)
        run_e2e.answer_question(env, "save")
        s.dialog("Save As", closed)
        run_e2e.expect_exit(program, "the song was saved on closing")
        saved = dump(cli, closed)
        if (0, 0, 0x47) not in notes(saved) or len(saved["patterns"]) != 2:
            raise Failure("closed.qvl does not hold the song: %s" % saved)
        log("closing asked, saved closed.qvl through the dialog and ended with status 0")
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()

    run_e2e.expect_no_assertion(log_path)


if __name__ == "__main__":
    sys.exit(run_e2e.tracker_and_cli_main(__doc__, "quavlo-keep-", session))

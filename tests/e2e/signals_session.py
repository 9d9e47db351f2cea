#!/usr/bin/env python3
"""Termination signals end the real tracker through its normal shut-down. For each of SIGTERM, SIGINT and SIGHUP:
the tracker is started in a virtual X server, a note is typed (so the song has unsaved changes), a WAV capture is
started with Ctrl+W, and the signal is sent. The program must end by itself with exit status 0, without asking
about the unsaved changes, with "song.wav" finished (header sizes matching the file) and a log that shows the
shut-down and no assertion (the display's shut-down asserts that every block was freed).

Usage: signals_session.py QUAVLO QUAVLO_CLI
Exit status: 0 passed, 1 failed, 77 a needed tool is missing (the test is skipped).
"""

import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_e2e  # noqa: E402  (Xvfb, window search, screenshots)
from app_session import check_wav, record_unsaved, start  # noqa: E402  (the tracker, key presses, the WAV check)
from run_e2e import Failure, log  # noqa: E402


def one_signal(quavlo, display, workdir, number):
    name = signal.Signals(number).name
    env, program, log_path = start(quavlo, display, workdir)
    try:
        wav = record_unsaved(env, program, workdir)
        program.send_signal(number)
        try:
            status = program.wait(timeout=15)
        except subprocess.TimeoutExpired:
            raise Failure("%s: the tracker is still running (a question may be open)" % name)
        text = open(log_path, "rb").read().decode(errors="replace")
        if status != 0:
            raise Failure("%s: exit status %d" % (name, status))
        if "signal %d: shutting down" % number not in text or "deinit sounds" not in text:
            raise Failure("%s: the log does not show the shut-down" % name)
        if "assert:" in text:
            raise Failure("%s: the log holds an assertion" % name)
        samples = check_wav(wav)
        log("%s: exit 0, song.wav finished with %d samples, no assertion" % (name, samples))
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()


def session(quavlo, cli, display, workdir):
    for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        run_dir = os.path.join(workdir, signal.Signals(number).name)
        os.mkdir(run_dir)
        one_signal(quavlo, display, run_dir, number)
        time.sleep(0.3)


if __name__ == "__main__":
    sys.exit(run_e2e.tracker_and_cli_main(__doc__, "quavlo-signals-", session))

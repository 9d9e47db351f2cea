#!/usr/bin/env python3
"""The display connection breaks: the tracker ends by itself. The tracker is started in a virtual X server of this
test's own, a note is typed (so the song has unsaved changes) and a WAV capture started with Ctrl+W; then that X
server is ended (never one the test did not start). The program must log the broken connection and end with exit
status 1 (a hang in its exit is what this guards against), with "song.wav" finished (header sizes matching the file),
nothing written in place of the unsaved song, and no assertion in its log.

Usage: display_lost.py QUAVLO QUAVLO_CLI
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


def session(quavlo, display, workdir, xvfb):
    env, program, log_path = start(quavlo, display, workdir)
    try:
        wav = record_unsaved(env, program, workdir)
        before = sorted(os.listdir(workdir))
        xvfb.send_signal(signal.SIGTERM)
        xvfb.wait(timeout=10)
        ended = time.time()
        try:
            status = program.wait(timeout=20)
        except subprocess.TimeoutExpired:
            raise Failure("the tracker is still running 20 s after its display went away")
        log("the tracker ended %.0f ms after the X server" % ((time.time() - ended) * 1000))
        text = open(log_path, "rb").read().decode(errors="replace")
        if status != 1:
            raise Failure("exit status %d, not 1" % status)
        if "display connection lost: shutting down" not in text or "deinit sounds" not in text:
            raise Failure("the log does not show the broken display and the sound's shut-down")
        run_e2e.expect_no_assertion(log_path)
        samples = check_wav(wav)
        if sorted(os.listdir(workdir)) != before:
            raise Failure("files appeared or went: %s, then %s" % (before, sorted(os.listdir(workdir))))
        log("exit 1, song.wav finished with %d samples, no other file written, no assertion" % samples)
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    quavlo = os.path.abspath(sys.argv[1])
    return run_e2e.in_xvfb("quavlo-display-lost-", ("Xvfb", "xdotool", "xwininfo"),
                           lambda display, workdir, xvfb: session(quavlo, display, workdir, xvfb), pass_server=True)


if __name__ == "__main__":
    sys.exit(main())

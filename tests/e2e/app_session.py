#!/usr/bin/env python3
"""A musician's session with the real tracker in a virtual X server.

Types a short melody with xdotool, plays and stops it, saves it through the real zenity save dialog, starts a new
song, loads the saved file back through the open dialog (the screen and, via `quavlo-cli dump`, the file's bytes
must match), records with the WAV button and checks "song.wav", exports a C header through the save dialog,
closes the window and expects exit status 0 and a log without an assertion. Along the way it reports the time to
the first frame and the program's CPU use while idle and while playing (figures only, no limits).

Usage: app_session.py QUAVLO QUAVLO_CLI
Exit status: 0 passed, 1 failed, 77 a needed tool is missing (the test is skipped).
"""

import json
import os
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_e2e  # noqa: E402  (the platform's driver: Xvfb, window search, screenshots, close request)
from run_e2e import Failure, log, run, screenshot, wait_for  # noqa: E402

SKIP = 77
YELLOW = 0xFFFF00  # the played row and the cursor in edit mode


def count_colour(rows, colour):
    return sum(1 for row in rows for v in row if v == colour)


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def cpu_share(pid, seconds):
    start_cpu, start = cpu_seconds(pid), time.time()
    time.sleep(seconds)
    return (cpu_seconds(pid) - start_cpu) / (time.time() - start)


class Session:
    def __init__(self, env, wid):
        self.env = env
        self.wid = wid

    def xdo(self, *args):
        run(["xdotool"] + [str(a) for a in args], self.env)

    def focus(self):
        self.xdo("windowfocus", "--sync", self.wid)

    def hold(self, *keys, seconds=0.12):
        """Presses keys in order, holds them long enough for a 25 ms step to see them, releases in reverse."""
        self.focus()
        for k in keys:
            self.xdo("keydown", k)
        time.sleep(seconds)
        for k in reversed(keys):
            self.xdo("keyup", k)
        time.sleep(0.05)

    def click(self, x, y):
        self.xdo("mousemove", "--window", self.wid, x, y)
        self.xdo("mousedown", 1)
        time.sleep(0.12)
        self.xdo("mouseup", 1)
        time.sleep(0.1)

    def shot(self):
        return screenshot(self.env, self.wid)

    def settled_shot(self):
        """A screenshot taken once two in a row agree."""
        def same():
            a = self.shot()
            time.sleep(0.15)
            b = self.shot()
            return b if a == b else None
        return wait_for(same, 10, "the picture did not settle")

    def type_melody(self, fresh):
        """Types C D E F G A B C on "qwertyui" from the cursor's row down and returns to row 0; returns the settled
        picture, which must differ from fresh."""
        for key in "qwertyui":
            self.hold(key, seconds=0.06)
        self.hold("Up", seconds=1.0)
        typed = self.settled_shot()
        if run_e2e.differing_pixels(fresh, typed) < 500:
            raise Failure("typing the melody hardly changed the picture")
        return typed

    def save_melody(self, cli, path):
        """SAVE (Ctrl+S) to path through the save dialog; checks the module's notes with quavlo-cli dump."""
        self.hold("Control_L", "s")
        self.dialog("Save As", path)
        wait_for(lambda: os.path.exists(path), 10, "%s was not written" % os.path.basename(path))
        return check_melody(cli, path)

    def dialog(self, title, path):
        """Waits for the zenity dialog titled title, types path into it and confirms."""
        ids = wait_for(lambda: run(["xdotool", "search", "--name", "^%s$" % title], self.env, check=False)
                       .stdout.split(), 20, 'no "%s" dialog appeared' % title)
        did = ids[-1].decode()
        time.sleep(0.8)  # the dialog builds its widgets after mapping
        self.xdo("windowfocus", "--sync", did)
        if title == "Open":
            self.xdo("key", "ctrl+l")  # the location entry
        else:
            self.xdo("key", "ctrl+a")
        time.sleep(0.2)
        self.xdo("type", "--delay", 20, path)
        time.sleep(0.3)
        self.xdo("key", "Return")
        wait_for(lambda: not run(["xdotool", "search", "--name", "^%s$" % title], self.env, check=False)
                 .stdout.split(), 20, 'the "%s" dialog did not close' % title)
        time.sleep(0.3)


def dump(cli, path):
    p = subprocess.run([cli, "dump", path], capture_output=True, timeout=30)
    if p.returncode != 0:
        raise Failure("quavlo-cli dump %s failed: %s" % (path, p.stderr.decode(errors="replace")))
    return json.loads(p.stdout.decode())


def check_melody(cli, path):
    """Checks with quavlo-cli dump that the module at path holds the melody typed on "qwertyui" from row 0 of
    channel 0 in octave 4, and nothing else; returns the number of notes."""
    saved = dump(cli, path)
    notes = [(c["channel"], c["row"], c["fields"][0]) for c in saved["patterns"][0]]
    want = [(0, r, n) for r, n in enumerate([0x40, 0x42, 0x44, 0x45, 0x47, 0x49, 0x4B, 0x50])]
    if saved["order"] != [0] or notes != want:
        raise Failure("the saved module holds %s" % json.dumps(saved))
    return len(notes)


def check_wav(path):
    data = open(path, "rb").read()
    if len(data) <= 44 or data[0:4] != b"RIFF" or data[8:16] != b"WAVEfmt ":
        raise Failure("song.wav is not a WAV file with sound (%d bytes)" % len(data))
    riff, = struct.unpack("<I", data[4:8])
    channels, rate, _, _, bits = struct.unpack("<HIIHH", data[22:36])
    size, = struct.unpack("<I", data[40:44])
    if riff != len(data) - 8 or size != len(data) - 44:
        raise Failure("song.wav's header does not match its length (%d, %d, %d)" % (riff, size, len(data)))
    if (channels, rate, bits) != (1, 22050, 16):
        raise Failure("song.wav is not mono 16-bit 22050 Hz")
    samples = struct.unpack("<%dh" % (size // 2), data[44:44 + size])
    if not any(samples):
        raise Failure("song.wav holds only silence")
    return len(samples)


def start(quavlo, display, workdir):
    """Starts the tracker in workdir on display; returns its environment, process and log path."""
    env = dict(os.environ)
    env.pop("WAYLAND_DISPLAY", None)
    env.update(DISPLAY=display, SDL_VIDEODRIVER="x11", SDL_AUDIODRIVER="dummy", XAUTHORITY="/dev/null",
               NO_AT_BRIDGE="1", GTK_A11Y="none")
    log_path = os.path.join(workdir, "program.log")
    with open(log_path, "wb") as out:
        program = subprocess.Popen([quavlo], cwd=workdir, env=env, stdout=out, stderr=subprocess.STDOUT)
    return env, program, log_path


def record_unsaved(env, program, workdir):
    """With the tracker just started: waits for its picture, types a note (an unsaved change) and starts a WAV
    capture with Ctrl+W; returns the recording's path once it holds ten blocks."""
    s = Session(env, run_e2e.find_window(env, program))
    wait_for(lambda: run_e2e.distinct_colours(s.shot()) >= 4, 10, "the window's picture stayed blank")
    s.hold("q")
    s.hold("Control_L", "w")
    wav = os.path.join(workdir, "song.wav")
    wait_for(lambda: os.path.exists(wav) and os.path.getsize(wav) > 44 + 10 * 2204, 10, "nothing was recorded")
    return wav


def session(quavlo, cli, display, workdir):
    started = time.time()
    env, program, log_path = start(quavlo, display, workdir)
    try:
        wid = run_e2e.find_window(env, program)
        s = Session(env, wid)
        wait_for(lambda: run_e2e.distinct_colours(s.shot()) >= 4, 10, "the window's picture stayed blank")
        log("first frame on screen %.0f ms after start (including the polling)" % ((time.time() - started) * 1000))
        fresh = s.settled_shot()
        log("idle CPU: %.1f%% of one core" % (100 * cpu_share(program.pid, 3)))

        # A melody in channel 0: C D E F G A B C, each on its own row.
        typed = s.type_melody(fresh)

        s.hold("Return")
        wait_for(lambda: count_colour(s.shot(), YELLOW) > 2000, 5, "no played row appeared")
        log("playing CPU: %.1f%% of one core" % (100 * cpu_share(program.pid, 3)))
        s.hold("Return")
        # The cursor stayed on the last played row; a held Up key brings it back to the top, where the notes are.
        s.hold("Up", seconds=2.5)
        stopped = s.settled_shot()
        if run_e2e.differing_pixels(typed, stopped) != 0:
            raise Failure("after play, stop and a return to row 0 the screen differs from before playing")
        log("typed, played and stopped the melody")

        tune = os.path.join(workdir, "tune.qvl")
        log("saved tune.qvl through the dialog: %d notes" % s.save_melody(cli, tune))

        s.hold("Control_L", "o")
        emptied = s.settled_shot()
        if run_e2e.differing_pixels(emptied, stopped) < 500:
            raise Failure("NEW did not clear the pattern on the screen")

        s.hold("Control_L", "l")
        s.dialog("Open", tune)
        loaded = wait_for(lambda: (lambda p: p if run_e2e.differing_pixels(p, stopped) == 0 else None)(s.shot()),
                          10, "the loaded song does not look like the saved one")
        log("NEW cleared the song, LOAD brought it back pixel for pixel (%d colours)" %
            run_e2e.distinct_colours(loaded))

        # The WAV button: x 5..105, y 205..235.
        s.click(55, 220)
        wait_for(lambda: os.path.exists(os.path.join(workdir, "song.wav")), 5, "no song.wav appeared")
        time.sleep(1.5)
        s.click(55, 220)
        time.sleep(0.3)
        samples = check_wav(os.path.join(workdir, "song.wav"))
        log("WAV button recorded song.wav: %d samples" % samples)

        header = os.path.join(workdir, "tune.h")
        s.hold("Control_L", "s")
        s.dialog("Save As", header)
        wait_for(lambda: os.path.exists(header), 10, "tune.h was not written")
        text = open(header).read()
        if not text.startswith("const byte tune[]=\n{\n") or not text.rstrip().endswith("};"):
            raise Failure("tune.h is not the exported module: " + text[:80])
        size = len([v for v in text.split(",") if "0x" in v])
        if size != os.path.getsize(tune):
            raise Failure("tune.h holds %d bytes, the module %d" % (size, os.path.getsize(tune)))
        log("exported tune.h through the save dialog (%d bytes)" % size)

        run_e2e.close_and_expect_exit(display, wid, program)
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()

    text = open(log_path, "rb").read().decode(errors="replace")
    lines = text.splitlines()
    if "assert:" in text:
        raise Failure("the log holds an assertion: " + next(line for line in lines if "assert:" in line))
    for line in ("init sounds", "deinit sounds", "g_deinit_display"):
        if line not in lines:
            raise Failure('log has no line "%s"' % line)
    log("closed with status 0, no assertion in the log")


if __name__ == "__main__":
    sys.exit(run_e2e.tracker_and_cli_main(__doc__, "quavlo-session-", session))

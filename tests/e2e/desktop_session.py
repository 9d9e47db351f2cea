#!/usr/bin/env python3
"""The tracker on a desktop: opened with a file, enlarged on a large screen, drawn through a renderer, on Wayland,
and with its picture kept behind modal boxes.

In a virtual X server of 1280 x 800:
  - `quavlo tune.qvl` starts with the song loaded: the screen equals that of the same file loaded through LOAD,
    and a save through the dialog writes the same bytes;
  - while the Open dialog is up and is moved off the window, the uncovered part shows the tracker again;
  - a file that is not a module brings the "Can not load" box, and around it the window keeps its picture.
In a virtual X server of 2600 x 1700:
  - the window opens at 2x by itself, every frame pixel a 2 x 2 square of the 1x picture, and a click on the WAV
    button at 2x starts and stops a recording;
  - with SDL_FRAMEBUFFER_ACCELERATION=1 the renderer path shows exactly the same pixels.
With weston at hand, a nested Wayland session (no X server for the client) runs the tracker through the renderer.

Usage: desktop_session.py QUAVLO
Exit status: 0 passed, 1 failed, 77 a needed tool is missing (the test is skipped).
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_e2e  # noqa: E402  (Xvfb, window search, screenshots, close request)
from app_session import Session  # noqa: E402
from run_e2e import Failure, log, run, screenshot, wait_for  # noqa: E402

SKIP = 77

# Order 0, 1; pattern 0: C-4 D-4 E-4 in channel 0 on rows 0, 4, 8 (sample 2), pattern 1 empty.
TUNE = bytes([ord("Q"), ord("V"), 0, 2, 0, 1,
              0x03, 0x40, 0x02, 0x80, 3, 0x03, 0x42, 0x02, 0x80, 3, 0x03, 0x44, 0x02, 0x80, 246, 0x00,
              0x80, 0xFF, 0x00])


def x_env(display, **extra):
    env = dict(os.environ)
    env.pop("WAYLAND_DISPLAY", None)
    env.update(DISPLAY=display, SDL_VIDEODRIVER="x11", SDL_AUDIODRIVER="dummy", XAUTHORITY="/dev/null",
               NO_AT_BRIDGE="1", GTK_A11Y="none")
    env.update(extra)
    return env


class Tracker:
    """One run of the tracker: its process, window, log and a Session to drive it."""

    def __init__(self, quavlo, args, env, workdir, name):
        self.env = env
        self.log_path = os.path.join(workdir, name + ".log")
        with open(self.log_path, "wb") as out:
            self.proc = subprocess.Popen([quavlo] + args, cwd=workdir, env=env, stdout=out, stderr=subprocess.STDOUT)
        self.wid = run_e2e.find_window(env, self.proc)
        self.s = Session(env, self.wid)
        wait_for(lambda: run_e2e.distinct_colours(self.s.shot()) >= 4, 10, "the window's picture stayed blank")

    def geometry(self, wid=None):
        info = run_e2e.window_info(self.env, wid or self.wid)
        return (int(info["Absolute upper-left X"]), int(info["Absolute upper-left Y"]), int(info["Width"]),
                int(info["Height"]))

    def log_lines(self):
        return open(self.log_path, "rb").read().decode(errors="replace").splitlines()

    def close(self, display):
        run_e2e.close_and_expect_exit(display, self.wid, self.proc)
        text = "\n".join(self.log_lines())
        if "assert:" in text:
            raise Failure("the log holds an assertion: " + next(l for l in self.log_lines() if "assert:" in l))

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def find_dialog(env, title):
    ids = wait_for(lambda: run(["xdotool", "search", "--name", "^%s$" % title], env, check=False).stdout.split(),
                   20, 'no "%s" window appeared' % title)
    return ids[-1].decode()


def top_windows(env, title):
    """Ids of the top-level windows named title, from the X server's window tree (xdotool misses SDL's box)."""
    tree = run(["xwininfo", "-root", "-children"], env).stdout.decode(errors="replace")
    return [line.split()[0] for line in tree.splitlines() if ('"%s":' % title) in line]


def overlap(a, b):
    w = min(a[0] + a[2], b[0] + b[2]) - max(a[0], b[0])
    h = min(a[1] + a[3], b[1] + b[3]) - max(a[1], b[1])
    return max(w, 0) * max(h, 0)


def type_into_dialog(s, did, title, path):
    s.xdo("windowfocus", "--sync", did)
    s.xdo("key", "ctrl+l" if title == "Open" else "ctrl+a")
    time.sleep(0.2)
    s.xdo("type", "--delay", 20, path)
    time.sleep(0.3)
    s.xdo("key", "Return")


def differing_outside(a, b, box):
    """Pixels that differ between two shots of the window, outside box (x, y, w, h in window coordinates)."""
    n = 0
    for y, (ra, rb) in enumerate(zip(a, b)):
        for x, (va, vb) in enumerate(zip(ra, rb)):
            if va != vb and not (box[0] <= x < box[0] + box[2] and box[1] <= y < box[1] + box[3]):
                n += 1
    return n


def file_and_modal_boxes(quavlo, display, workdir):
    env = x_env(display)
    tune = os.path.join(workdir, "tune.qvl")
    with open(tune, "wb") as f:
        f.write(TUNE)
    t = Tracker(quavlo, [tune], env, workdir, "program")
    try:
        s = t.s
        started = s.settled_shot()
        s.hold("Control_L", "o")
        emptied = s.settled_shot()
        if run_e2e.differing_pixels(started, emptied) < 200:
            raise Failure("the song named on the command line was not on the screen")

        # LOAD the same file; the Open dialog is moved off the window while it is up.
        s.hold("Control_L", "l")
        did = find_dialog(env, "Open")
        time.sleep(0.8)  # the dialog builds its widgets after mapping
        covered = overlap(t.geometry(), t.geometry(did))
        if covered == 0:
            raise Failure("the Open dialog does not cover the window, so it tests nothing")
        s.xdo("windowmove", "--sync", did, 1270, 790)
        restored = wait_for(lambda: (lambda p: p if run_e2e.differing_pixels(p, emptied) == 0 else None)(s.shot()),
                            5, "the part of the window the dialog uncovered was not repainted while it is open")
        log("dialog moved off the window: the %d pixels it covered show the tracker again" % covered)
        type_into_dialog(s, did, "Open", tune)
        wait_for(lambda: run_e2e.differing_pixels(s.shot(), restored), 10, "LOAD did not change the screen")
        loaded = s.settled_shot()
        if run_e2e.differing_pixels(loaded, started) != 0:
            raise Failure("`quavlo tune.qvl` did not start with the screen that LOAD of tune.qvl gives")
        log("quavlo tune.qvl starts with the screen LOAD gives, pixel for pixel")

        again = os.path.join(workdir, "again.qvl")
        s.hold("Control_L", "s")
        did = find_dialog(env, "Save As")
        time.sleep(0.8)
        type_into_dialog(s, did, "Save As", again)
        wait_for(lambda: os.path.exists(again) and os.path.getsize(again) == len(TUNE), 10, "again.qvl was not saved")
        if open(again, "rb").read() != TUNE:
            raise Failure("the re-saved module differs from the file the tracker started with")
        log("saved again: byte for byte the file it started with")

        # A file that is not a module: the box opens over the tracker's picture, where the dialog just was.
        bad = os.path.join(workdir, "bad.qvl")
        with open(bad, "wb") as f:
            f.write(b"not a module")
        wait_for(lambda: not run(["xdotool", "search", "--name", "^Save As$"], env, check=False).stdout.split(), 10,
                 "the save dialog stayed")
        before = s.settled_shot()
        s.hold("Control_L", "l")
        did = find_dialog(env, "Open")
        time.sleep(0.8)
        type_into_dialog(s, did, "Open", bad)
        box = wait_for(lambda: top_windows(env, "ERROR"), 20, 'no "ERROR" box appeared')[0]
        time.sleep(0.5)
        wx, wy, _, _ = t.geometry()
        bx, by, bw, bh = t.geometry(box)
        inside = (bx - wx, by - wy, bw, bh)
        during = s.shot()
        wrong = differing_outside(during, before, inside)
        if wrong:
            raise Failure("behind the message box %d pixels of the window lost their picture" % wrong)
        log('"Can not load" box of %dx%d open: the window around it keeps its picture' % (bw, bh))
        s.xdo("windowfocus", "--sync", box)
        s.xdo("key", "Return")
        wait_for(lambda: not top_windows(env, "ERROR"), 10, "the message box did not close on Return")
        after = s.settled_shot()
        if run_e2e.differing_pixels(after, before):
            raise Failure("after the box the song on the screen changed")
        t.close(display)
    finally:
        t.kill()


def blocks_of(shot, k):
    """The picture a window at scale k shows, one pixel per k x k square; None when a square is not uniform."""
    small = []
    for y in range(0, len(shot), k):
        row = []
        for x in range(0, len(shot[0]), k):
            v = shot[y][x]
            for dy in range(k):
                if any(p != v for p in shot[y + dy][x:x + k]):
                    return None
            row.append(v)
        small.append(row)
    return small


def large_screen(quavlo, display, workdir):
    t = Tracker(quavlo, ["--scale", "1"], x_env(display), workdir, "one")
    try:
        one = t.s.settled_shot()
        t.close(display)
    finally:
        t.kill()

    t = Tracker(quavlo, [], x_env(display), workdir, "two")
    try:
        if t.geometry()[2:] != (1800, 1040):
            raise Failure("on a 2600 x 1700 screen the window is %dx%d, not 1800x1040" % t.geometry()[2:])
        two = t.s.settled_shot()
        if blocks_of(two, 2) != one:
            raise Failure("the 2x window is not the 1x picture with every pixel doubled")
        log("2x chosen for a 2600 x 1700 screen: every pixel a 2 x 2 square of the 1x picture")
        # The WAV button (x 5..105, y 205..235 in the frame) at 2x: its label reads STOP while it records.
        def button(shot):
            return [row[10:210] for row in shot[410:470]]
        t.s.click(110, 440)
        wait_for(lambda: os.path.exists(os.path.join(workdir, "song.wav")), 5, "a click on WAV at 2x did nothing")
        wait_for(lambda: button(t.s.shot()) != button(two), 5, "the WAV button does not read STOP")
        t.s.click(110, 440)
        wait_for(lambda: button(t.s.shot()) == button(two), 5, "a second click did not stop the recording")
        log("a click on the WAV button at 2x started a recording, a second one stopped it")
        t.close(display)
        if "WINDOW 1800x1040 SCALE 2 PRESENT SURFACE" not in t.log_lines():
            raise Failure("the 2x window was not presented through the window surface")
    finally:
        t.kill()

    t = Tracker(quavlo, [], x_env(display, SDL_FRAMEBUFFER_ACCELERATION="1"), workdir, "renderer")
    try:
        drawn = t.s.settled_shot()
        t.close(display)
        via = [l for l in t.log_lines() if l.startswith("WINDOW ")]
        if not via or via[0].endswith("SURFACE"):
            raise Failure("SDL_FRAMEBUFFER_ACCELERATION=1 did not take the renderer path: %s" % via)
        if drawn != two:
            raise Failure("the renderer path shows %d pixels other than the surface path" %
                          run_e2e.differing_pixels(drawn, two))
        log("renderer path (%s) shows the surface path's pixels exactly" % via[0].split()[-1])
    finally:
        t.kill()


def wayland(quavlo, display, workdir):
    """The tracker as a Wayland client of weston (itself a window of the virtual X server)."""
    if not shutil.which("weston"):
        log("no weston: the Wayland run is skipped")
        return
    runtime = tempfile.mkdtemp(prefix="quavlo-wl-")
    os.chmod(runtime, 0o700)
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, DISPLAY=display, XAUTHORITY="/dev/null")
    env.pop("WAYLAND_DISPLAY", None)
    weston = subprocess.Popen(["weston", "--backend=x11-backend.so", "--socket=quavlo-test", "--width=2000",
                               "--height=1300", "--idle-time=0"], env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    program = None
    try:
        wait_for(lambda: os.path.exists(os.path.join(runtime, "quavlo-test")) or weston.poll() is not None, 15,
                 "weston did not start")
        if weston.poll() is not None:
            raise Failure("weston ended at start (status %d)" % weston.returncode)
        client = dict(env, WAYLAND_DISPLAY="quavlo-test", SDL_VIDEODRIVER="wayland", SDL_AUDIODRIVER="dummy")
        client.pop("DISPLAY")
        log_path = os.path.join(workdir, "wayland.log")
        with open(log_path, "wb") as out:
            # Line-buffered, so the log can be read while the tracker runs (it cannot be closed from outside).
            program = subprocess.Popen(["stdbuf", "-oL", quavlo], cwd=workdir, env=client, stdout=out,
                                       stderr=subprocess.STDOUT)

        def frames():
            if program.poll() is not None:
                raise Failure("the tracker ended on Wayland (status %d): %s" %
                              (program.returncode, open(log_path, "rb").read()[-400:]))
            return sum(1 for l in open(log_path, "rb").read().decode(errors="replace").splitlines()
                       if l.startswith("FPS:")) >= 2
        wait_for(frames, 20, "no frames on Wayland")
        lines = open(log_path, "rb").read().decode(errors="replace").splitlines()
        via = [l for l in lines if l.startswith("WINDOW ")]
        if not via or via[0].endswith("SURFACE"):
            raise Failure("on Wayland the window was not presented through a renderer: %s" % via)
        if any("assert:" in l for l in lines):
            raise Failure("the Wayland log holds an assertion")
        log("on Wayland without X: %s, frames running" % via[0])
    finally:
        if program and program.poll() is None:
            program.kill()
            program.wait()
        weston.send_signal(signal.SIGTERM)
        try:
            weston.wait(timeout=10)
        except subprocess.TimeoutExpired:
            weston.kill()
            weston.wait()
        shutil.rmtree(runtime, ignore_errors=True)


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    quavlo = os.path.abspath(sys.argv[1])
    tools = ("Xvfb", "xdotool", "xwininfo", "zenity")
    status = run_e2e.in_xvfb("quavlo-desktop-", tools, lambda d, w: file_and_modal_boxes(quavlo, d, w))
    if status != 0:
        return status
    return run_e2e.in_xvfb("quavlo-large-", tools, lambda d, w: (large_screen(quavlo, d, w), wayland(quavlo, d, w)),
                           screen="2600x1700x24")


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""End-to-end run of a QuavloII executable in a virtual X server.

Starts Xvfb on a free display, runs the program there with SDL audio on the dummy driver, and checks that:
  - a window titled "QuavloII" with a 900 x 520 client area appears;
  - its picture is not blank;
  - a key press sent through the X server changes the picture (and, with --key-log, shows in the log, while an
    Alt combination does not);
  - closing the window (WM_DELETE_WINDOW, as a window manager's close button sends it), with --close-answer the
    answer to the save question that the key press's unsaved note brings up, ends the program with exit status 0,
    after a shut-down logged without an assertion.

Usage: run_e2e.py EXECUTABLE [--key-log FORMAT] [--expect-log LINE]... [--close-answer save|discard|cancel]
Exit status: 0 passed, 1 failed, 77 a needed tool is missing (the test is skipped).
"""

import argparse
import ctypes
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

SKIP = 77


class Failure(Exception):
    pass


def log(msg):
    print("e2e: " + msg, flush=True)


def run(cmd, env, timeout=10, check=True):
    try:
        p = subprocess.run(cmd, env=env, capture_output=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        raise Failure("timed out: " + " ".join(cmd))
    if check and p.returncode != 0:
        raise Failure("%s failed (%d): %s" % (" ".join(cmd), p.returncode, p.stderr.decode(errors="replace")))
    return p


def start_xvfb(screen="1280x800x24"):
    """Starts Xvfb on a display it chooses itself; returns (process, display name)."""
    rfd, wfd = os.pipe()
    proc = subprocess.Popen(
        ["Xvfb", "-displayfd", str(wfd), "-screen", "0", screen, "-nolisten", "tcp", "-noreset"],
        pass_fds=[wfd], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(wfd)
    data = b""
    deadline = time.time() + 15
    while not data.endswith(b"\n"):
        left = deadline - time.time()
        if left <= 0 or not select.select([rfd], [], [], left)[0]:
            proc.kill()
            raise Failure("Xvfb did not start")
        chunk = os.read(rfd, 64)
        if not chunk:
            proc.kill()
            raise Failure("Xvfb exited while starting")
        data += chunk
    os.close(rfd)
    return proc, ":" + data.decode().strip()


def find_window(env, program, timeout=15):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if program.poll() is not None:
            raise Failure("the program ended before its window appeared (status %d)" % program.returncode)
        # The title names the song's file and marks unsaved changes: "QuavloII", "QuavloII - tune.qvl *".
        p = run(["xdotool", "search", "--name", "^QuavloII( - .+)?( \\*)?$"], env, check=False)
        ids = p.stdout.split()
        if ids:
            return ids[0].decode()
        time.sleep(0.1)
    raise Failure('no window titled "QuavloII" appeared')


def window_info(env, wid):
    out = run(["xwininfo", "-id", wid], env).stdout.decode()
    info = {}
    for line in out.splitlines():
        if ":" in line:
            k, v = line.split(":", 1)
            info[k.strip()] = v.strip()
    return info


def screenshot(env, wid):
    """The window's pixels as a list of rows of 0xRRGGBB values, from an XWD dump."""
    if shutil.which("xwd"):
        data = run(["xwd", "-id", wid, "-silent"], env).stdout
    else:
        data = run(["import", "-window", wid, "xwd:-"], env).stdout
    fields = struct.unpack(">25I", data[:100])
    header_size, version, fmt, depth, width, height = fields[0:6]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    red_mask, green_mask, blue_mask, ncolors = fields[14], fields[15], fields[16], fields[19]
    if version != 7 or fmt != 2 or bits_per_pixel not in (24, 32):
        raise Failure("unexpected XWD image (version %d, format %d, %d bpp)" % (version, fmt, bits_per_pixel))
    start = header_size + ncolors * 12
    order = "<" if byte_order == 0 else ">"
    size = bits_per_pixel // 8
    rows = []
    for y in range(height):
        line = data[start + y * bytes_per_line: start + y * bytes_per_line + width * size]
        if size == 3:
            # Packed 3-byte pixels (a window overlapped by another visual's window can come back this way).
            values = [int.from_bytes(line[i:i + 3], "little" if byte_order == 0 else "big")
                      for i in range(0, len(line), 3)]
        else:
            values = struct.unpack(order + "%dI" % width, line)
        rows.append([v & (red_mask | green_mask | blue_mask) for v in values])
    return rows


def distinct_colours(rows):
    return len({v for row in rows[::4] for v in row[::4]})


def differing_pixels(a, b):
    return sum(1 for ra, rb in zip(a, b) for va, vb in zip(ra, rb) if va != vb)


def close_window(display, wid):
    """Sends WM_DELETE_WINDOW, the request a window manager's close button makes."""
    x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 24)]

    dpy = x11.XOpenDisplay(display.encode())
    if not dpy:
        raise Failure("cannot open display " + display)
    ev = ClientMessage()
    ev.type = 33  # ClientMessage
    ev.window = int(wid)
    ev.message_type = x11.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
    ev.format = 32
    ev.data[0] = x11.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
    ev.data[1] = 0  # CurrentTime
    if not x11.XSendEvent(dpy, int(wid), 0, 0, ctypes.byref(ev)):
        raise Failure("XSendEvent failed")
    x11.XFlush(dpy)
    x11.XCloseDisplay(dpy)


def wait_for(predicate, timeout, what):
    deadline = time.time() + timeout
    while True:
        result = predicate()
        if result:
            return result
        if time.time() >= deadline:
            raise Failure(what)
        time.sleep(0.1)


def check(args, display, workdir):
    env = dict(os.environ)
    env.pop("WAYLAND_DISPLAY", None)
    env.update(DISPLAY=display, SDL_VIDEODRIVER="x11", SDL_AUDIODRIVER="dummy", XAUTHORITY="/dev/null")
    log_path = os.path.join(workdir, "program.log")
    with open(log_path, "wb") as out:
        program = subprocess.Popen([args.executable], cwd=workdir, env=env, stdout=out,
                                   stderr=subprocess.STDOUT)
    try:
        wid = find_window(env, program)
        info = window_info(env, wid)
        size = (info.get("Width"), info.get("Height"))
        if size != ("900", "520"):
            raise Failure("client area is %sx%s, not 900x520" % size)
        if info.get("Map State") != "IsViewable":
            raise Failure("window is not viewable: " + str(info.get("Map State")))
        log("window %s: 900x520, viewable" % wid)

        shot = wait_for(lambda: (lambda s: s if distinct_colours(s) >= 2 else None)(screenshot(env, wid)), 10,
                        "the window's picture stayed blank")
        log("picture shows %d colours" % distinct_colours(shot))
        time.sleep(0.3)
        before = screenshot(env, wid)

        run(["xdotool", "windowfocus", "--sync", wid], env)
        run(["xdotool", "key", "--delay", "80", "q"], env)
        after = wait_for(lambda: (lambda s: s if differing_pixels(before, s) else None)(screenshot(env, wid)), 5,
                         "a key press did not change the picture")
        log("key press changed %d pixels" % differing_pixels(before, after))
        if args.key_log:
            run(["xdotool", "key", "--delay", "80", "alt+w"], env)
            time.sleep(0.5)

        close_and_expect_exit(display, wid, program, env, args.close_answer)
        log("closing the window ended the program with status 0")
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()

    text = open(log_path, "rb").read().decode(errors="replace")
    expected = ["PLATFORM SDL2", "g_deinit_display"] + list(args.expect_log)
    if args.key_log:
        expected.append(args.key_log % 81)
    lines = text.splitlines()
    for line in expected:
        if line not in lines:
            raise Failure('log has no line "%s"' % line)
    if args.key_log and (args.key_log % 87) in lines:
        raise Failure("a key pressed with Alt held reached the key table")
    if "assert:" in text:
        raise Failure("the log holds an assertion: " + next(l for l in lines if "assert:" in l))
    if lines.index("g_deinit_display") < lines.index("PLATFORM SDL2"):
        raise Failure("the shut-down came before the window")
    log("log: start-up, %s, shut-down, no assertion" % ("key 81" if args.key_log else "keys"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("executable")
    parser.add_argument("--key-log", help='printf format of the line the program logs per key press, e.g. "key %%d"')
    parser.add_argument("--expect-log", action="append", default=[], help="a line the log must hold")
    parser.add_argument("--close-answer", choices=("save", "discard", "cancel"),
                        help="the answer to the save question that closing the window brings up")
    args = parser.parse_args()
    args.executable = os.path.abspath(args.executable)

    return in_xvfb("quavlo-e2e-", ("Xvfb", "xdotool", "xwininfo"), lambda display, workdir: check(args, display, workdir))


QUESTION = "Unsaved changes"  # title of the tracker's save question


def question_window(env):
    """The save question's window id, or None while there is none."""
    p = run(["xwininfo", "-name", QUESTION], env, check=False)
    m = re.search(rb"Window id: (0x[0-9a-fA-F]+)", p.stdout)
    return m.group(1).decode() if m else None


def button_centres(rows):
    """Centres of the buttons of a message box picture: the first row that crosses three equal-coloured runs of at
    least 30 pixels in a colour other than the background's, left to right."""
    counts = {}
    for row in rows:
        for v in row:
            counts[v] = counts.get(v, 0) + 1
    background = max(counts, key=counts.get)
    for y, row in enumerate(rows):
        runs, x = [], 0
        while x < len(row):
            end = x
            while end < len(row) and row[end] == row[x]:
                end += 1
            if row[x] != background and end - x >= 30:
                runs.append((x, end, row[x]))
            x = end
        if len(runs) == 3 and len({r[2] for r in runs}) == 1:
            return [((a + b) // 2, y) for a, b, _ in runs]
    raise Failure("no three buttons found in the question's picture")


def answer_question(env, answer):
    """Waits for the save question and answers it: "save" (Return), "cancel" (Escape) or "discard" (a click on the
    middle of its three buttons, Save, Discard and Cancel)."""
    box = wait_for(lambda: question_window(env), 10, 'no "%s" question appeared' % QUESTION)
    time.sleep(0.5)  # the box draws itself after mapping
    if answer == "discard":
        x, y = button_centres(screenshot(env, box))[1]
        run(["xdotool", "mousemove", "--window", box, str(x), str(y)], env)
        run(["xdotool", "click", "1"], env)
    else:
        run(["xdotool", "windowfocus", "--sync", box], env)
        run(["xdotool", "key", {"save": "Return", "cancel": "Escape"}[answer]], env)
    wait_for(lambda: question_window(env) is None, 10, "the question stayed open after " + answer)


def close_and_expect_exit(display, wid, program, env=None, answer=None):
    """Asks the window to close, answers the save question when one is expected, and expects the program to end
    with status 0."""
    close_window(display, wid)
    if answer:
        answer_question(env, answer)
    expect_exit(program, "its window was closed")


def expect_exit(program, after):
    """Expects the program to end with status 0 within 15 s of what happened (after)."""
    try:
        status = program.wait(timeout=15)
    except subprocess.TimeoutExpired:
        raise Failure("the program did not end after " + after)
    if status != 0:
        raise Failure("exit status %d after %s" % (status, after))


def expect_no_assertion(log_path):
    """The program's log holds no assertion line."""
    lines = open(log_path, "rb").read().decode(errors="replace").splitlines()
    bad = [line for line in lines if "assert:" in line]
    if bad:
        raise Failure("the log holds an assertion: " + bad[0])
    return lines


def tracker_and_cli_main(doc, prefix, session):
    """Entry of a driver run as DRIVER QUAVLO QUAVLO_CLI: session(quavlo, cli, display, workdir) in a fresh Xvfb."""
    if len(sys.argv) != 3:
        print(doc)
        return 2
    quavlo, cli = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    return in_xvfb(prefix, ("Xvfb", "xdotool", "xwininfo", "zenity"),
                   lambda display, workdir: session(quavlo, cli, display, workdir))


def in_xvfb(prefix, tools, body, screen="1280x800x24", pass_server=False):
    """Runs body(display, workdir) with a fresh Xvfb and a scratch folder; returns the process exit status. With
    pass_server, body(display, workdir, xvfb) also gets the Xvfb process, which it may end itself."""
    missing = [t for t in tools if not shutil.which(t)]
    if not shutil.which("xwd") and not shutil.which("import"):
        missing.append("xwd")
    if missing:
        log("skipped, missing: " + " ".join(missing) + " (scripts/setup.sh installs them)")
        return SKIP

    xvfb, display = start_xvfb(screen)
    log("Xvfb on " + display)
    workdir = tempfile.mkdtemp(prefix=prefix)
    try:
        if pass_server:
            body(display, workdir, xvfb)
        else:
            body(display, workdir)
    except Failure as e:
        log("FAILED: " + str(e))
        log_path = os.path.join(workdir, "program.log")
        if os.path.exists(log_path):
            tail = open(log_path, "rb").read().decode(errors="replace").splitlines()[-40:]
            print("---- program log (last lines)\n" + "\n".join(tail), flush=True)
        return 1
    finally:
        xvfb.send_signal(signal.SIGTERM)
        try:
            xvfb.wait(timeout=5)
        except subprocess.TimeoutExpired:
            xvfb.kill()
        shutil.rmtree(workdir, ignore_errors=True)
    log("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())

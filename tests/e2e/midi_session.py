#!/usr/bin/env python3
"""The real tracker played from a MIDI keyboard without hardware, in a virtual X server.

JACK: a JACK server of the test's own (the dummy driver, a private server name in JACK_DEFAULT_SERVER, never
started by a client) and a keyboard made of a JACK client (quavlo-midi-source). The tracker starts first and must
find the server by itself; `quavlo --midi list` names the keyboard once it is there; the tracker connects itself to
the keyboard's port. With the velocity option on (Ctrl+K) the keyboard sends notes mixed with clock bytes, SysEx,
a controller, note-offs, a note-on with velocity 0, running status, bend, pressure, a truncated note and a note
below C-0; the notes must be in the pattern with their volumes (read back by SAVE and `quavlo-cli dump`) and in
the sound (SDL's disk audio driver: silence before the first note, sound after it). The keyboard then goes away
(no error) and another one appears and is connected (hot-plug) and heard. The window closes with status 0 and a
log without an assertion.

ALSA sequencer: the same with `--midi alsa` and the keyboard as an ALSA client, where /dev/snd/seq exists; skipped
with a message elsewhere (machines without sound hardware have no sequencer).

Usage: midi_session.py QUAVLO QUAVLO_CLI MIDI_SOURCE
Exit status: 0 passed, 1 failed, 77 a needed tool is missing (the test is skipped).
"""

import os
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_e2e  # noqa: E402  (Xvfb, window search, screenshots, the close request)
from app_session import Session, dump  # noqa: E402  (keys, the save dialog, quavlo-cli dump)
from run_e2e import Failure, log, wait_for  # noqa: E402

SKIP = 77

# What the keyboard sends, one message (or piece) a line, and what must land in channel 0: (row, note, volume).
STREAM = [
    "f8", "fe",                   # clock, active sensing
    "f0 7e 7f 06 01 f7",          # SysEx
    "b0 07 64",                   # controller
    "90 3c 64",                   # C-4, velocity 100
    "80 3c 40", "90 3e 00",       # note-off, note-on with velocity 0
    "90 40 7f",                   # E-4, velocity 127
    "43 5a",                      # G-4, velocity 90, in running status
    "e0 00 40", "d0 30",          # pitch bend, channel pressure
    "90 45",                      # truncated
    "90 45 40",                   # A-4, velocity 64
    "90 05 64",                   # below C-0: ignored
    "90 7f 01",                   # G-9, velocity 1
]
WRITTEN = [(0, 0x40, 12), (1, 0x44, 15), (2, 0x47, 11), (3, 0x49, 8), (4, 0x97, 1)]
LATER = (5, 0x50, 8)  # C-5 velocity 60, from the second keyboard
SOUND_BYTES_PER_SECOND = 44100  # 22050 mono 16-bit samples


class Keyboard:
    """A quavlo-midi-source process: a MIDI client with one output port."""

    def __init__(self, source, api, name, env):
        self.proc = subprocess.Popen([source, api, name], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True, bufsize=1)
        self.port = self.expect("ready", 10).split(" ", 1)[1]

    def expect(self, word, timeout):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if not select.select([self.proc.stdout], [], [], max(0.0, deadline - time.time()))[0]:
                break
            line = self.proc.stdout.readline().strip()
            if not line:
                break
            if line.startswith(word):
                return line
        raise Failure('the MIDI keyboard did not say "%s" within %d s (%s)' %
                      (word, timeout, self.proc.stderr.read() if self.proc.poll() is not None else "running"))

    def send(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        self.expect("sent", 10)

    def leave(self):
        self.proc.stdin.close()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise Failure("the MIDI keyboard did not end")


def samples(path, start_byte):
    data = open(path, "rb").read()[start_byte - start_byte % 2:]
    return struct.unpack("<%dh" % (len(data) // 2), data[:len(data) // 2 * 2])


def scenario(api, quavlo, cli, source, display, env_extra, workdir):
    env = dict(os.environ)
    env.pop("WAYLAND_DISPLAY", None)
    env.update(env_extra)
    env.update(DISPLAY=display, SDL_VIDEODRIVER="x11", SDL_AUDIODRIVER="disk", XAUTHORITY="/dev/null",
               SDL_DISKAUDIOFILE=os.path.join(workdir, "sound.raw"), NO_AT_BRIDGE="1", GTK_A11Y="none")
    args = [] if api == "jack" else ["--midi", "alsa"]
    # Before the keyboard: nothing to list on the private JACK server (the ALSA sequencer has its own ports).
    listing = subprocess.run([quavlo, "--midi", "list"] + args, env=env, capture_output=True, text=True, timeout=30)
    if listing.returncode != 0 or (api == "jack" and listing.stdout != "No MIDI input ports (JACK).\n"):
        raise Failure("--midi list before any keyboard: status %d, %r" % (listing.returncode, listing.stdout))

    log_path = os.path.join(workdir, "program.log")
    with open(log_path, "wb") as out:
        program = subprocess.Popen([quavlo] + args, cwd=workdir, env=env, stdout=out, stderr=subprocess.STDOUT)
    keyboards = []
    try:
        wid = run_e2e.find_window(env, program)
        s = Session(env, wid)
        wait_for(lambda: run_e2e.distinct_colours(s.shot()) >= 4, 10, "the window's picture stayed blank")
        want_line = "MIDI: JACK, input port QuavloII:midi_in" if api == "jack" else "MIDI: ALSA sequencer, input port"
        wait_for(lambda: any(line.startswith(want_line) for line in open(log_path, errors="replace")), 10,
                 'the log has no line "%s"' % want_line)

        # A keyboard that appears after the tracker: listed, and connected by the tracker within about a second.
        keyboard = Keyboard(source, api, "quavlo-e2e-keyboard", env)
        keyboards.append(keyboard)
        listing = subprocess.run([quavlo, "--midi", "list"] + args, env=env, capture_output=True, text=True,
                                 timeout=30)
        if listing.returncode != 0 or not any(line.startswith("  quavlo-e2e-keyboard:out")
                                              for line in listing.stdout.splitlines()):
            raise Failure("--midi list does not name the keyboard: %r" % listing.stdout)
        keyboard.expect("connected", 10)
        log("%s: the tracker connected itself to %s; --midi list named it" % (api, keyboard.port))

        s.hold("Control_L", "k")  # the velocity goes into the volume field
        time.sleep(0.3)
        sound = os.path.join(workdir, "sound.raw")
        before_notes = os.path.getsize(sound)
        for line in STREAM:
            keyboard.send(line)
        time.sleep(1.0)
        if any(samples(sound, 0)[:before_notes // 2]):
            raise Failure("the disk audio holds sound from before the first note")
        heard = [i for i, v in enumerate(samples(sound, before_notes)) if v]
        if not heard:
            raise Failure("the notes were not heard in the disk audio")
        log("%s: silence before the first note, %d samples of sound after it" % (api, len(heard)))

        # The keyboard goes away; another one appears.
        keyboard.leave()
        wait_for(lambda: any("went away" in line for line in open(log_path, errors="replace")), 10,
                 "the tracker did not notice the keyboard going away")
        second = Keyboard(source, api, "quavlo-e2e-keyboard2", env)
        keyboards.append(second)
        second.expect("connected", 10)
        second.send("90 48 3c")
        time.sleep(0.3)
        log("%s: the keyboard went away without an error; a second one was connected" % api)

        path = os.path.join(workdir, "played.qvl")
        s.hold("Control_L", "s")
        s.dialog("Save As", path)
        wait_for(lambda: os.path.exists(path), 10, "played.qvl was not written")
        cells = [(c["row"], c["flags"], c["fields"]) for c in dump(cli, path)["patterns"][0] if c["channel"] == 0]
        want = [(row, 7, [note, 0, volume, 0, 0]) for row, note, volume in WRITTEN + [LATER]]
        if cells != want:
            raise Failure("the pattern holds %s, not %s" % (cells, want))
        log("%s: the notes are in the pattern with their volumes: %s" %
            (api, " ".join("%02X/%X" % (n, v) for _, n, v in WRITTEN + [LATER])))
        second.leave()
        run_e2e.close_and_expect_exit(display, wid, program)
    finally:
        for k in keyboards:
            if k.proc.poll() is None:
                k.proc.kill()
                k.proc.wait()
        if program.poll() is None:
            program.kill()
            program.wait()
    lines = run_e2e.expect_no_assertion(log_path)
    for line in ("MIDI: connected ", "MIDI: closed"):
        if not any(l.startswith(line) for l in lines):
            raise Failure('the log has no line beginning "%s"' % line)
    problems = [l for l in lines if l.startswith("MIDI: could not") or l.startswith("MIDI: RtMidi")]
    if problems:
        raise Failure("the log reports a MIDI problem: " + problems[0])


def start_jack(name):
    """A JACK server with the dummy driver under a private name; returns the process once clients can reach it."""
    env = dict(os.environ, JACK_DEFAULT_SERVER=name, JACK_NO_START_SERVER="1", JACK_NO_AUDIO_RESERVATION="1")
    said = tempfile.TemporaryFile(mode="w+")  # what jackd prints, read back should it end at once
    server = subprocess.Popen(["jackd", "--no-realtime", "-d", "dummy", "-r", "44100", "-p", "256"], env=env,
                              stdout=subprocess.DEVNULL, stderr=said, start_new_session=True)
    deadline = time.time() + 15
    while time.time() < deadline:
        if server.poll() is not None:
            # jackd's own words say why, e.g. "Too many servers already active": servers killed without their own
            # shut-down leave their entries in /dev/shm/jack-shm-registry, which only a reboot or removing it
            # (while no jackd runs) clears.
            said.seek(0)
            lines = [l for l in said.read().splitlines() if l.strip() and not l.startswith(("jackdmp", "Copyright"))]
            raise Failure("jackd ended at once (status %d): %s" % (server.returncode,
                                                                   lines[0] if lines else "no message"))
        if subprocess.run(["jack_lsp"], env=env, capture_output=True, timeout=10).returncode == 0:
            return server
        time.sleep(0.2)
    stop(server)
    raise Failure("the JACK server did not come up")


def stop(proc):
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def session(quavlo, cli, source, display, workdir):
    name = "quavlo-e2e-%d" % os.getpid()
    server = start_jack(name)
    try:
        jack_dir = os.path.join(workdir, "jack")
        os.mkdir(jack_dir)
        scenario("jack", quavlo, cli, source, display,
                 {"JACK_DEFAULT_SERVER": name, "JACK_NO_START_SERVER": "1"}, jack_dir)
    finally:
        stop(server)
    if os.access("/dev/snd/seq", os.R_OK | os.W_OK):
        alsa_dir = os.path.join(workdir, "alsa")
        os.mkdir(alsa_dir)
        scenario("alsa", quavlo, cli, source, display, {"JACK_NO_START_SERVER": "1"}, alsa_dir)
    else:
        log("ALSA sequencer half skipped: this machine has no /dev/snd/seq (no sound hardware)")


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    quavlo, cli, source = (os.path.abspath(a) for a in sys.argv[1:])
    missing = [t for t in ("jackd", "jack_lsp") if not shutil.which(t)]
    if missing:
        log("skipped, missing: " + " ".join(missing) + " (scripts/setup.sh installs jackd2)")
        return SKIP
    return run_e2e.in_xvfb("quavlo-midi-", ("Xvfb", "xdotool", "xwininfo", "zenity"),
                           lambda display, workdir: session(quavlo, cli, source, display, workdir))


if __name__ == "__main__":
    sys.exit(main())

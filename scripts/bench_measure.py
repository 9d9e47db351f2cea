#!/usr/bin/env python3
"""Measures one or more builds of QuavloII side by side and prints one table (scripts/bench.sh builds them).

Usage: bench_measure.py --song FILE [--seconds N] [--quick] [--key-latency SCRIPT --disk-audio LIB [--key-runs N]]
                        NAME=BUILD_DIR [NAME=BUILD_DIR ...]

For every build: the offline render's real-time factor on the song (a short and a long render through quavlo-cli,
audio seconds per CPU second of the process, best of several runs), the cost of mixing one block and of a tracker
step idle, typing and playing (the Google Benchmark programs bench_synth and bench_app), and the real program under
Xvfb with SDL's disk audio driver writing to /dev/null: launch to first picture, CPU share of a core while idle and
while playing the song with its pattern scrolling (from /proc/PID/stat over N seconds each), resident memory, and
the way of a MIDI note-on sent through JACK (a private dummy server with 128-frame periods, the keyboard
quavlo-midi-source) to the sound, where jackd and that client are there (with LIB, below).
The measurements of the builds alternate, so that a change of the machine's load hits all of them alike. With more
than one build, the last columns give each build's figure as a ratio to the first one's.

Key to sound is measured by the key latency script (the shared bench's key_latency.sh: Xvfb, SDL's disk audio
driver, six presses of a note key per run), --key-runs runs for every build and for schismtracker when it is
installed, in the same run, each with LIB preloaded (bench_disk_audio.c), which logs the driver's writes: "key to
sound" is, for every press, the time from the script's key press to the moment the driver handed the period with the
note's first sample to the device, plus that sample's place in the period; median and worst of all presses. Beside
it the script's own figures, from the file's size and its growth rate: with the file unbuffered, and as SDL writes
it, through the C library's 4096-byte buffer, which lags up to 93 ms of a 22050 Hz mono stream behind (23 ms of
schismtracker's 44100 Hz stereo one) and is counted as delay. The script takes the size, the end of the period last
written, as the sound being played, so even unbuffered it counts from up to one period later than the device.
"""
import argparse
import json
import os
import pty
import re
import resource
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import run_e2e  # noqa: E402  (Xvfb, window search, screenshots)

CLK_TCK = os.sysconf("SC_CLK_TCK")


def render_factor(build, song, args, audio_seconds, runs):
    """Audio seconds per CPU second of quavlo-cli render, best of runs."""
    cli = os.path.join(build, "tools", "quavlo-cli")
    best = None
    with tempfile.TemporaryDirectory(prefix="quavlo-bench-") as tmp:
        for _ in range(runs):
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            subprocess.run([cli, "render"] + args + [song, os.path.join(tmp, "out.wav")], check=True,
                           stdout=subprocess.DEVNULL)
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
            best = cpu if best is None or cpu < best else best
    return audio_seconds / max(best, 1e-6)


def benchmark_ns(build, program, name, min_time):
    """CPU time per iteration in microseconds of one Google Benchmark case; None when the program lacks it."""
    path = os.path.join(build, "bench", program)
    if not os.path.exists(path):
        return None
    # The programs log to standard output too, so the figures go to a file of their own.
    with tempfile.NamedTemporaryFile(prefix="quavlo-bench-", suffix=".json") as out:
        subprocess.run([path, "--benchmark_filter=^%s$" % name, "--benchmark_out=" + out.name,
                        "--benchmark_out_format=json", "--benchmark_min_time=%g" % min_time],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        with open(out.name) as f:
            report = json.load(f)
    found = [b for b in report["benchmarks"] if b["name"] == name]
    if not found:
        return None
    b = found[0]
    scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[b.get("time_unit", "ns")]
    return b["cpu_time"] * scale


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def resident_mib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024.0
    return None


class Tracker:
    """The real program on a display, its log read through a terminal so that each line arrives as written."""

    def __init__(self, build, display, song=None, sound_file="/dev/null", env=None):
        self.sound_file = sound_file
        self.env = dict(env or os.environ, DISPLAY=display, SDL_VIDEODRIVER="x11", SDL_AUDIODRIVER="disk",
                        SDL_DISKAUDIOFILE=sound_file, XAUTHORITY="/dev/null")
        master, slave = pty.openpty()
        self.first_frame = None
        self.started = time.time()
        self.proc = subprocess.Popen([os.path.join(build, "app", "quavlo")] + ([song] if song else []),
                                     stdin=subprocess.DEVNULL, stdout=slave, stderr=subprocess.DEVNULL, env=self.env)
        os.close(slave)
        self.master = master
        self.ready = threading.Event()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        text = b""
        while True:
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                break
            if not chunk:
                break
            if self.first_frame is None:
                text += chunk
                # The first step logs the first frame rate line right after presenting the first picture.
                if b"FPS:" in text:
                    self.first_frame = time.time() - self.started
                    self.ready.set()

    def wait_ready(self):
        if not self.ready.wait(30):
            raise run_e2e.Failure("the tracker showed no first picture")
        return run_e2e.find_window(self.env, self.proc)

    def cpu_share(self, seconds):
        start_cpu, start = cpu_seconds(self.proc.pid), time.time()
        time.sleep(seconds)
        return (cpu_seconds(self.proc.pid) - start_cpu) / (time.time() - start)

    def play(self, wid):
        """Return starts the song; checked by the pattern view scrolling."""
        for _ in range(3):
            subprocess.run(["xdotool", "windowfocus", "--sync", wid], env=self.env, check=False)
            subprocess.run(["xdotool", "keydown", "Return"], env=self.env, check=True)
            time.sleep(0.1)
            subprocess.run(["xdotool", "keyup", "Return"], env=self.env, check=True)
            time.sleep(0.5)
            a = run_e2e.screenshot(self.env, wid)
            time.sleep(1.0)
            if run_e2e.screenshot(self.env, wid) != a:
                return
        raise run_e2e.Failure("the song did not start playing")

    def note_delays(self, presses, play, write_log, rate):
        """Milliseconds from play() (a way to play a note) to the moment SDL's disk driver handed the period with the
        note's first sample to the device, plus the sample's place in it, read from the driver's logged writes
        (bench_disk_audio.c) and its file; one figure per press, the presses well apart."""
        time.sleep(0.5)
        moments = []
        for _ in range(presses):
            moments.append(time.time())
            play()
            time.sleep(1.5)  # the note dies away
        with open(self.sound_file, "rb") as f:
            sound = f.read()
        writes = [tuple(int(v) for v in line.split()) for line in open(write_log)]
        return [first_sound_delay(sound, writes, moment, 2, rate) for moment in moments]

    def stop(self):
        self.proc.kill()
        self.proc.wait()
        os.close(self.master)


def first_sound_delay(sound, writes, moment, frame_bytes, rate):
    """Milliseconds from moment (seconds) to the first write of the disk driver at or after it whose period holds a
    frame that is not silence, plus that frame's place in the period; 9999 when none does. writes: the logged writes
    (nanoseconds, offset, bytes); sound: the driver's file."""
    for at, offset, length in writes:
        if at / 1e9 < moment:
            continue
        period = sound[offset:offset + length]
        frame = next((k for k in range(len(period) // frame_bytes)
                      if any(period[k * frame_bytes:(k + 1) * frame_bytes])), None)
        if frame is not None:
            return (at / 1e9 - moment + frame / rate) * 1000
    return 9999


def key_presses(script, name, frame_bytes, rate, command, preload, unbuffered, extra_env=None):
    """One run of the key latency script (six presses) with the disk driver's writes logged (bench_disk_audio.c).
    Returns two lists of delays in ms, in press order: the script's own figures, and the true ones: from the
    moment the script pressed the key to the moment the driver handed the period with the note's first sample to the
    device, plus that sample's place in it."""
    env = dict(os.environ)
    env.update(extra_env or {})
    with tempfile.TemporaryDirectory(prefix="quavlo-keys-") as tmp:
        env["TMPDIR"] = tmp  # the script's work directory (the disk driver's file, its marks) lands here
        log = os.path.join(tmp, "writes.log")
        prefix = ["env", "LD_PRELOAD=" + preload, "BENCH_WRITE_LOG=" + log,
                  "BENCH_UNBUFFERED=" + ("1" if unbuffered else "0")]
        out = subprocess.run([script, name, str(frame_bytes), "--"] + prefix + command, env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, timeout=300).stdout
        m = re.search(r"presses in order (.*) ms, median", out)
        if not m:
            raise run_e2e.Failure("the key latency script gave no result for %s: %s" % (name, out.strip()))
        reported = [float(v) for v in m.group(1).split()]
        work = [os.path.join(tmp, d) for d in os.listdir(tmp) if os.path.isdir(os.path.join(tmp, d))][0]
        with open(os.path.join(work, "a.raw"), "rb") as f:
            sound = f.read()
        writes = [tuple(int(v) for v in line.split()) for line in open(log)]
        true = [first_sound_delay(sound, writes, float(line.split()[2]), frame_bytes, rate)
                for line in open(os.path.join(work, "marks"))]
    return reported, true


def key_figures(presses):
    """Median and worst of presses, as key_latency.sh takes its median (the upper one of an even count)."""
    ordered = sorted(presses)
    return ordered[len(ordered) // 2], ordered[-1]


SCHISM = "schismtracker"
SCHISM_RATE = 44100  # schismtracker's output: 44100 Hz stereo, 4 bytes a frame
SCHISM_ENV = {"PRE": "key F2", "SILENCE": "key F8"}  # to the pattern editor; the note cut before the next press


def midi_figures(build, display, tmp, presses, disk_audio):
    """A MIDI note-on's way to the sound through JACK: median and worst milliseconds from the keyboard client being
    told to send it (it goes out in the next 2.9 ms JACK period) to the period with its first sample going to the
    device. Empty without jackd, without the keyboard client (a build from before it) or without disk_audio."""
    source = os.path.join(build, "tests", "quavlo-midi-source")
    if not disk_audio or not os.path.exists(source) or not shutil.which("jackd") or not shutil.which("jack_lsp"):
        return {}
    log = os.path.join(tmp, "midi-writes.log")
    env = dict(os.environ, JACK_DEFAULT_SERVER="quavlo-bench-%d" % os.getpid(), JACK_NO_START_SERVER="1",
               JACK_NO_AUDIO_RESERVATION="1")
    server = subprocess.Popen(["jackd", "--no-realtime", "-d", "dummy", "-r", "44100", "-p", "128"], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    tracker = keyboard = None
    try:
        deadline = time.time() + 15
        while subprocess.run(["jack_lsp"], env=env, capture_output=True).returncode != 0:
            if time.time() > deadline or server.poll() is not None:
                raise run_e2e.Failure("the JACK server did not come up")
            time.sleep(0.2)
        tracker = Tracker(build, display, sound_file=os.path.join(tmp, "midi.raw"),
                          env=dict(env, LD_PRELOAD=disk_audio, BENCH_WRITE_LOG=log))
        tracker.wait_ready()
        keyboard = subprocess.Popen([source, "jack", "quavlo-bench-keyboard"], env=env, stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, bufsize=1)
        for word in ("ready", "connected"):
            if not keyboard.stdout.readline().startswith(word):
                raise run_e2e.Failure("the MIDI keyboard did not get connected")
        time.sleep(1.0)

        def play():
            keyboard.stdin.write("90 3c 64\n")
            keyboard.stdin.flush()
            keyboard.stdout.readline()
        delays = tracker.note_delays(presses, play, log, 22050)
    finally:
        if keyboard:
            keyboard.stdin.close()
            keyboard.wait()
        if tracker:
            tracker.stop()
        server.terminate()
        server.wait()
    median, worst = key_figures(delays)
    return {"MIDI note to sound, median (ms)": median, "MIDI note to sound, worst (ms)": worst}


def tracker_figures(build, song, seconds, disk_audio):
    proc, display = run_e2e.start_xvfb()
    tmp = tempfile.mkdtemp(prefix="quavlo-bench-")
    try:
        idle = Tracker(build, display)
        idle.wait_ready()
        time.sleep(1.0)  # start-up settles
        cpu_idle = idle.cpu_share(seconds)
        rss = resident_mib(idle.proc.pid)
        first = idle.first_frame
        idle.stop()
        playing = Tracker(build, display, song)
        wid = playing.wait_ready()
        playing.play(wid)
        cpu_play = playing.cpu_share(seconds)
        playing.stop()
        midi = midi_figures(build, display, tmp, 8, disk_audio)
    finally:
        proc.kill()
        proc.wait()
        shutil.rmtree(tmp, ignore_errors=True)
    return dict(midi, **{"first frame (ms)": first * 1000, "CPU idle (% of a core)": cpu_idle * 100,
                         "CPU playing (% of a core)": cpu_play * 100, "resident memory (MiB)": rss})


ROWS = [  # name, higher is better
    ("render short (x real time)", True),
    ("render long (x real time)", True),
    ("mix one block (us)", False),
    ("step idle (us)", False),
    ("step typing (us)", False),
    ("step playing (us)", False),
    ("key to sound, median (ms)", False),
    ("key to sound, worst (ms)", False),
    ("key_latency.sh, median (ms)", False),
    ("key_latency.sh, worst (ms)", False),
    ("key_latency.sh, file buffered, median (ms)", False),
    ("key_latency.sh, file buffered, worst (ms)", False),
    ("MIDI note to sound, median (ms)", False),
    ("MIDI note to sound, worst (ms)", False),
    ("first frame (ms)", False),
    ("CPU idle (% of a core)", False),
    ("CPU playing (% of a core)", False),
    ("resident memory (MiB)", False),
]


KEY_ROWS = [row for row, _ in ROWS if "key" in row and "MIDI" not in row]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--song", required=True)
    ap.add_argument("--seconds", type=float, default=20.0, help="CPU measurement of the real program, each")
    ap.add_argument("--quick", action="store_true", help="one render of each length, short benchmark runs")
    ap.add_argument("--key-latency", help="the key latency script (key_latency.sh); none: no key-to-sound rows")
    ap.add_argument("--disk-audio", help="bench_disk_audio.so, preloaded into the programs whose keys are measured")
    ap.add_argument("--key-runs", type=int, default=2, help="runs of the key latency script (six presses each)")
    ap.add_argument("builds", nargs="+", help="NAME=BUILD_DIR")
    a = ap.parse_args()
    builds = [b.split("=", 1) for b in a.builds]
    song = os.path.abspath(a.song)
    runs = 1 if a.quick else 3
    min_time = 0.1 if a.quick else 0.5
    results = {name: {} for name, _ in builds}

    def each(label, fn):
        print("measuring: %s" % label, file=sys.stderr, flush=True)
        for name, build in builds:
            figures = fn(build)
            results[name].update(figures)

    each("short render", lambda b: {ROWS[0][0]: render_factor(b, song, ["--seconds", "122.88"], 122.88, runs)})
    each("long render", lambda b: {ROWS[1][0]: render_factor(b, song, ["--passes", "8", "--seconds", "983.04"],
                                                              983.04, 1 if a.quick else 2)})
    each("mixing and steps", lambda b: {
        ROWS[2][0]: benchmark_ns(b, "bench_synth", "BM_MixFourVoices", min_time),
        ROWS[3][0]: benchmark_ns(b, "bench_app", "BM_StepIdle", min_time),
        ROWS[4][0]: benchmark_ns(b, "bench_app", "BM_StepTyping", min_time),
        ROWS[5][0]: benchmark_ns(b, "bench_app", "BM_StepPlaying", min_time)})
    each("the tracker under Xvfb (%g s idle, %g s playing)" % (a.seconds, a.seconds),
         lambda b: tracker_figures(b, song, a.seconds, a.disk_audio))

    if a.key_latency:
        schism = shutil.which(SCHISM)
        programs = [(n, 2, 22050, [os.path.join(b, "app", "quavlo"), "--scale", "1"], {}) for n, b in builds]
        if schism:
            programs.append((SCHISM, 4, SCHISM_RATE, [schism, "test_song.mod"], SCHISM_ENV))
            results[SCHISM] = {}
        true = {p[0]: [] for p in programs}
        for unbuffered, rows in ((True, KEY_ROWS[2:4]), (False, KEY_ROWS[4:6])):
            print("measuring: key to sound, the disk file %s (%d runs of six presses)" %
                  ("unbuffered" if unbuffered else "as SDL writes it", a.key_runs), file=sys.stderr, flush=True)
            reported = {p[0]: [] for p in programs}
            for _ in range(a.key_runs):
                for name, frame_bytes, rate, command, env in programs:
                    script_delays, true_delays = key_presses(a.key_latency, name, frame_bytes, rate, command,
                                                             a.disk_audio, unbuffered, env)
                    reported[name] += script_delays
                    true[name] += true_delays
            for name in reported:
                results[name].update(dict(zip(rows, key_figures(reported[name]))))
                print("  %s, key_latency.sh: %s ms" % (name, " ".join("%.0f" % v for v in reported[name])),
                      file=sys.stderr)
        for name in true:
            results[name].update(dict(zip(KEY_ROWS[0:2], key_figures(true[name]))))
            print("  %s, to the device: %s ms" % (name, " ".join("%.0f" % v for v in true[name])), file=sys.stderr)

    names = [n for n, _ in builds]
    others = [n for n in results if n not in names]
    header = ["measurement"] + names + others + ["%s/%s" % (n, names[0]) for n in names[1:]]
    lines = [header]
    for row, _ in ROWS:
        values = [results[n].get(row) for n in names]
        shown = values + [results[n].get(row) for n in others]
        cells = [row] + ["-" if v is None else "%.3f" % v if abs(v) < 10 else "%.1f" % v for v in shown]
        for v in values[1:]:
            cells.append("-" if v is None or not values[0] else "%.2fx" % (v / values[0]))
        lines.append(cells)
    widths = [max(len(line[i]) for line in lines) for i in range(len(header))]
    for k, line in enumerate(lines):
        print("  ".join(c.ljust(widths[i]) if i == 0 else c.rjust(widths[i]) for i, c in enumerate(line)))
        if k == 0:
            print("  ".join("-" * w for w in widths))
    print("render: audio seconds per CPU second; costs: CPU time; a ratio above 1 is better for the renders only.")
    if a.key_latency:
        print("key to sound: from the script's key press to the period with the note's first sample going to the device"
              " (+ the sample's place in it), all presses of both ways; key_latency.sh: the script's own figures, "
              "with the disk file unbuffered and, \"file buffered\", as SDL writes it (4096 bytes at a time).")
    return 0


if __name__ == "__main__":
    sys.exit(main())

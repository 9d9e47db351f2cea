#!/usr/bin/env python3
"""Measures one or more builds of QuavloII side by side and prints one table (scripts/bench.sh builds them).

Usage: bench_measure.py --song FILE [--seconds N] [--quick] NAME=BUILD_DIR [NAME=BUILD_DIR ...]

For every build: the offline render's real-time factor on the song (a short and a long render through quavlo-cli,
audio seconds per CPU second of the process, best of several runs), the cost of mixing one block and of a tracker
step idle, typing and playing (the Google Benchmark programs bench_synth and bench_app), and the real program under
Xvfb with SDL's disk audio driver writing to /dev/null: launch to first picture, CPU share of a core while idle and
while playing the song with its pattern scrolling (from /proc/PID/stat over N seconds each), resident memory, the
delay from a note key's press to the note's first sample in the disk driver's file, and the same for a MIDI note-on
sent through JACK (a private dummy server with 128-frame periods, the keyboard quavlo-midi-source) where jackd and
that client are there.
The measurements of the builds alternate, so that a change of the machine's load hits all of them alike. With more
than one build, the last columns give each build's figure as a ratio to the first one's.
"""
import argparse
import json
import os
import pty
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

    def note_delay(self, wid, presses, play=None):
        """Milliseconds from a note key's press (or play(), another way to play a note) to the note's first sample
        in the disk driver's file, which SDL writes at the playing rate, one device period at a time: the bytes
        written after the press, up to the first sample that is not 0, at 44100 bytes a second. Mean and worst of
        several presses, well apart."""
        subprocess.run(["xdotool", "windowfocus", "--sync", wid], env=self.env, check=False)
        time.sleep(0.5)
        delays = []
        for _ in range(presses):
            # SDL writes through a buffered file, which reaches the disk 4096 bytes at a time: the position at the
            # press is the size at the last flush plus what the playing rate has added since.
            size, flushed = os.path.getsize(self.sound_file), time.time()
            watch = flushed
            while time.time() - watch < 0.15:
                now = os.path.getsize(self.sound_file)
                if now != size:
                    size, flushed = now, time.time()
                time.sleep(0.0005)
            start = size + int((time.time() - flushed) * 44100)
            if play:
                play()
                time.sleep(1.0)
            else:
                subprocess.run(["xdotool", "keydown", "q"], env=self.env, check=True)
                time.sleep(0.1)
                subprocess.run(["xdotool", "keyup", "q"], env=self.env, check=True)
                time.sleep(0.9)
            with open(self.sound_file, "rb") as f:
                f.seek(start - start % 2)
                data = f.read()
            samples = [int.from_bytes(data[i:i + 2], "little", signed=True) for i in range(0, len(data) - 1, 2)]
            first = next((i for i, v in enumerate(samples) if v != 0), None)
            if first is None:
                raise run_e2e.Failure("a typed note was not heard")
            delays.append(first * 1000.0 / 22050.0)
            time.sleep(0.5)  # the note dies away
        return sum(delays) / len(delays), max(delays)

    def stop(self):
        self.proc.kill()
        self.proc.wait()
        os.close(self.master)


def midi_figures(build, display, tmp, presses):
    """A MIDI note-on's way to the sound through JACK: mean and worst milliseconds from the keyboard client being
    told to send it (it goes out in the next 2.9 ms JACK period) to its first sample. Empty without jackd or
    without the keyboard client (a build from before it)."""
    source = os.path.join(build, "tests", "quavlo-midi-source")
    if not os.path.exists(source) or not shutil.which("jackd") or not shutil.which("jack_lsp"):
        return {}
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
        tracker = Tracker(build, display, sound_file=os.path.join(tmp, "midi.raw"), env=env)
        wid = tracker.wait_ready()
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
        mean, worst = tracker.note_delay(wid, presses, play)
    finally:
        if keyboard:
            keyboard.stdin.close()
            keyboard.wait()
        if tracker:
            tracker.stop()
        server.terminate()
        server.wait()
    return {"MIDI note heard, mean (ms)": mean, "MIDI note heard, worst (ms)": worst}


def tracker_figures(build, song, seconds):
    proc, display = run_e2e.start_xvfb()
    tmp = tempfile.mkdtemp(prefix="quavlo-bench-")
    try:
        idle = Tracker(build, display, sound_file=os.path.join(tmp, "sound.raw"))
        wid = idle.wait_ready()
        time.sleep(1.0)  # start-up settles
        cpu_idle = idle.cpu_share(seconds)
        rss = resident_mib(idle.proc.pid)
        first = idle.first_frame
        delay_mean, delay_worst = idle.note_delay(wid, 8)
        idle.stop()
        playing = Tracker(build, display, song)
        wid = playing.wait_ready()
        playing.play(wid)
        cpu_play = playing.cpu_share(seconds)
        playing.stop()
        midi = midi_figures(build, display, tmp, 8)
    finally:
        proc.kill()
        proc.wait()
        shutil.rmtree(tmp, ignore_errors=True)
    return dict(midi, **{"typed note heard, mean (ms)": delay_mean, "typed note heard, worst (ms)": delay_worst,
                         "first frame (ms)": first * 1000, "CPU idle (% of a core)": cpu_idle * 100,
                         "CPU playing (% of a core)": cpu_play * 100, "resident memory (MiB)": rss})


ROWS = [  # name, higher is better
    ("render short (x real time)", True),
    ("render long (x real time)", True),
    ("mix one block (us)", False),
    ("step idle (us)", False),
    ("step typing (us)", False),
    ("step playing (us)", False),
    ("typed note heard, mean (ms)", False),
    ("typed note heard, worst (ms)", False),
    ("MIDI note heard, mean (ms)", False),
    ("MIDI note heard, worst (ms)", False),
    ("first frame (ms)", False),
    ("CPU idle (% of a core)", False),
    ("CPU playing (% of a core)", False),
    ("resident memory (MiB)", False),
]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--song", required=True)
    ap.add_argument("--seconds", type=float, default=20.0, help="CPU measurement of the real program, each")
    ap.add_argument("--quick", action="store_true", help="one render of each length, short benchmark runs")
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
         lambda b: tracker_figures(b, song, a.seconds))

    names = [n for n, _ in builds]
    header = ["measurement"] + names + ["%s/%s" % (n, names[0]) for n in names[1:]]
    lines = [header]
    for row, _ in ROWS:
        values = [results[n].get(row) for n in names]
        cells = [row] + ["-" if v is None else "%.3f" % v if v < 10 else "%.1f" % v for v in values]
        for v in values[1:]:
            cells.append("-" if v is None or not values[0] else "%.2fx" % (v / values[0]))
        lines.append(cells)
    widths = [max(len(line[i]) for line in lines) for i in range(len(header))]
    for k, line in enumerate(lines):
        print("  ".join(c.ljust(widths[i]) if i == 0 else c.rjust(widths[i]) for i, c in enumerate(line)))
        if k == 0:
            print("  ".join("-" * w for w in widths))
    print("render: audio seconds per CPU second; costs: CPU time; a ratio above 1 is better for the renders only.")
    return 0


if __name__ == "__main__":
    sys.exit(main())

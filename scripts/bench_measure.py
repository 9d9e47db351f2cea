#!/usr/bin/env python3
"""Measures one or more builds of QuavloII side by side and prints one table (scripts/bench.sh builds them).

Usage: bench_measure.py --song FILE [--seconds N] [--quick] [--key-latency SCRIPT [--unbuffered LIB]
                        [--key-runs N]] NAME=BUILD_DIR [NAME=BUILD_DIR ...]

For every build: the offline render's real-time factor on the song (a short and a long render through quavlo-cli,
audio seconds per CPU second of the process, best of several runs), the cost of mixing one block and of a tracker
step idle, typing and playing (the Google Benchmark programs bench_synth and bench_app), and the real program under
Xvfb with SDL's disk audio driver writing to /dev/null: launch to first picture, CPU share of a core while idle and
while playing the song with its pattern scrolling (from /proc/PID/stat over N seconds each) and resident memory.
The measurements of the builds alternate, so that a change of the machine's load hits all of them alike. With more
than one build, the last columns give each build's figure as a ratio to the first one's.

Key to sound is measured by the key latency script (the shared bench's key_latency.sh: Xvfb, SDL's disk audio
driver, six presses of a note key per run, each press's delay from the key to the note's first sample in the
driver's file), median and worst of all presses of --key-runs runs, for every build and for schismtracker when it
is installed, in the same run. Twice: as the script is, and with the driver's file unbuffered (LIB preloaded, see
bench_unbuffered.c): the script reads the file's size as the position being played, and through the C library's
4096-byte buffer the file lags behind by up to 93 ms of a 22050 Hz mono stream (23 ms of schismtracker's 44100 Hz
stereo one), which it counts as delay.
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

    def __init__(self, build, display, song=None):
        self.env = dict(os.environ, DISPLAY=display, SDL_VIDEODRIVER="x11", SDL_AUDIODRIVER="disk",
                        SDL_DISKAUDIOFILE="/dev/null", XAUTHORITY="/dev/null")
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

    def stop(self):
        self.proc.kill()
        self.proc.wait()
        os.close(self.master)


def key_presses(script, name, frame_bytes, command, preload=None, extra_env=None):
    """The delays of one run of the key latency script (six presses), in ms, in order."""
    env = dict(os.environ)
    env.update(extra_env or {})
    with tempfile.TemporaryDirectory(prefix="quavlo-keys-") as tmp:
        env["TMPDIR"] = tmp  # the script's work directory (the disk driver's file) goes with it
        prefix = ["env", "LD_PRELOAD=" + preload] if preload else []
        out = subprocess.run([script, name, str(frame_bytes), "--"] + prefix + command, env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, timeout=300).stdout
    m = re.search(r"presses in order (.*) ms, median", out)
    if not m:
        raise run_e2e.Failure("the key latency script gave no result for %s: %s" % (name, out.strip()))
    return [float(v) for v in m.group(1).split()]


def key_figures(presses):
    """Median and worst of presses, as key_latency.sh takes its median (the upper one of an even count)."""
    ordered = sorted(presses)
    return ordered[len(ordered) // 2], ordered[-1]


SCHISM = "schismtracker"
SCHISM_ENV = {"PRE": "key F2", "SILENCE": "key F8"}  # to the pattern editor; the note cut before the next press


def tracker_figures(build, song, seconds):
    proc, display = run_e2e.start_xvfb()
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
    finally:
        proc.kill()
        proc.wait()
    return {"first frame (ms)": first * 1000, "CPU idle (% of a core)": cpu_idle * 100,
            "CPU playing (% of a core)": cpu_play * 100, "resident memory (MiB)": rss}


ROWS = [  # name, higher is better
    ("render short (x real time)", True),
    ("render long (x real time)", True),
    ("mix one block (us)", False),
    ("step idle (us)", False),
    ("step typing (us)", False),
    ("step playing (us)", False),
    ("key to sound, median (ms)", False),
    ("key to sound, worst (ms)", False),
    ("key to sound, file buffered, median (ms)", False),
    ("key to sound, file buffered, worst (ms)", False),
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
    ap.add_argument("--key-latency", help="the key latency script (key_latency.sh); none: no key-to-sound rows")
    ap.add_argument("--unbuffered", help="bench_unbuffered.so, preloaded for the unbuffered key-to-sound rows")
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
         lambda b: tracker_figures(b, song, a.seconds))

    if a.key_latency:
        schism = shutil.which(SCHISM)
        programs = [(n, 2, [os.path.join(b, "app", "quavlo"), "--scale", "1"], {}) for n, b in builds]
        if schism:
            programs.append((SCHISM, 4, [schism, "test_song.mod"], SCHISM_ENV))
            results[SCHISM] = {}
        for label, preload, rows in (("unbuffered", a.unbuffered, ROWS[6:8]), ("as the script is", None, ROWS[8:10])):
            if label == "unbuffered" and not preload:
                continue
            print("measuring: key to sound, %s (%d runs of six presses)" % (label, a.key_runs), file=sys.stderr,
                  flush=True)
            presses = {p[0]: [] for p in programs}
            for _ in range(a.key_runs):
                for name, frame_bytes, command, env in programs:
                    presses[name] += key_presses(a.key_latency, name, frame_bytes, command, preload, env)
            for name in presses:
                median, worst = key_figures(presses[name])
                results[name].update({rows[0][0]: median, rows[1][0]: worst})
                print("  %s: %s ms" % (name, " ".join("%.0f" % v for v in presses[name])), file=sys.stderr)

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
        print("key to sound: key_latency.sh, median and worst of all presses; \"file buffered\": the script as it is, "
              "reading the size of a file that the C library writes 4096 bytes at a time.")
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env bash
# Measures the tracker and prints one table: render real-time factor on the benchmark song (short and long), the
# cost of mixing one block and of a step (idle, typing, playing), the real program under Xvfb (first picture, CPU
# idle and playing the song for 20 s each, resident memory, a MIDI note's way to the sound through a private JACK
# server), and key to sound by the shared key latency script (../shared/bench/key_latency.sh: median and worst of
# its presses), also for schismtracker when it is installed.
# With --baseline REV, that commit is built in a temporary git worktree (removed afterwards) and measured in the same
# run, and every figure is shown beside it with the ratio.
#
#   scripts/bench.sh [--baseline REV] [--seconds N] [--quick] [--song FILE] [--key-runs N]
#
# --seconds: length of each CPU measurement of the real program (default 20); --quick: one render of each
# length and short benchmark runs; --key-runs: runs of the key latency script per program and way (six presses
# each, default 2). The song defaults to ../shared/bench/bench_song.qvl beside the repository (QUAVLO_BENCH_SONG
# overrides it), the key latency script to ../shared/bench/key_latency.sh (QUAVLO_KEY_LATENCY; without it the
# key-to-sound rows are left out). The script runs twice per program: with SDL's disk file unbuffered and as SDL
# writes it (4096 bytes at a time), with bench_disk_audio.c preloaded, which logs the file's writes: key to sound is
# the time from the script's press to the period with the note going to the device; the script's own figures are
# shown beside it. The current tree is measured from its plain build (build/), which is brought up to date first.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${QUAVLO_JOBS:-2}
baseline=""
seconds=20
quick=()
song=${QUAVLO_BENCH_SONG:-$root/../shared/bench/bench_song.qvl}
key_latency=${QUAVLO_KEY_LATENCY:-$root/../shared/bench/key_latency.sh}
key_runs=2
while [ $# -gt 0 ]; do
  case "$1" in
    --baseline) baseline=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --quick) quick=(--quick); shift ;;
    --song) song=$2; shift 2 ;;
    --key-runs) key_runs=$2; shift 2 ;;
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
[ -f "$song" ] || { echo "bench.sh: no benchmark song at $song" >&2; exit 1; }
for tool in Xvfb xdotool xwd; do
  command -v "$tool" >/dev/null || { echo "bench.sh: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

targets=(quavlo quavlo-cli bench_synth bench_app)
build_tree() { # source dir, build dir
  echo "building $1 in $2" >&2
  cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$2" -j"$jobs" --target "${targets[@]}" >/dev/null
  # The MIDI keyboard client for the MIDI figures, in builds that have it.
  if cmake --build "$2" --target help | grep quavlo-midi-source >/dev/null; then
    cmake --build "$2" -j"$jobs" --target quavlo-midi-source >/dev/null
  fi
}

builds=()
tmp=$(mktemp -d "${TMPDIR:-/tmp}/quavlo-bench-XXXXXX")
cleanup() {
  git -C "$root" worktree remove --force "$tmp/src" >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap cleanup EXIT
keys=()
if [ -x "$key_latency" ]; then
  cc -shared -fPIC -O2 -o "$tmp/bench_disk_audio.so" "$root/scripts/bench_disk_audio.c" -ldl
  keys=(--key-latency "$(cd "$(dirname "$key_latency")" && pwd)/$(basename "$key_latency")"
        --disk-audio "$tmp/bench_disk_audio.so" --key-runs "$key_runs")
else
  echo "bench.sh: no key latency script at $key_latency; key to sound is left out" >&2
fi
if [ -n "$baseline" ]; then
  git -C "$root" worktree add --detach "$tmp/src" "$baseline" >/dev/null 2>&1
  build_tree "$tmp/src" "$tmp/build"
  builds+=("base-$(git -C "$root" rev-parse --short "$baseline")=$tmp/build")
fi
build_tree "$root" "$root/build"
builds+=("this-$(git -C "$root" rev-parse --short HEAD)$(git -C "$root" diff --quiet HEAD || echo +)=$root/build")

python3 "$root/scripts/bench_measure.py" --song "$song" --seconds "$seconds" "${quick[@]}" "${keys[@]}" "${builds[@]}"

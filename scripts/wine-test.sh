#!/usr/bin/env bash
# Runs the tests of the Windows cross build under Wine: a new Wine prefix in a temporary directory, a virtual X
# server for the windows, ALSA's null device as the sound card, one Wine server kept running for all the programs,
# then ctest in the build directory. Everything is removed afterwards.
# Usage: scripts/wine-test.sh BUILD_DIR [ctest arguments...]
set -euo pipefail
build=$1
shift
work=$(mktemp -d "${TMPDIR:-/tmp}/quavlo-wine-test.XXXXXX")
xvfb=
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# No Mono, no Gecko, no desktop entries made from Start-menu entries.
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" HOME=$work/home
export XAUTHORITY=/dev/null
# Wine reads Unix file names in the locale's character set; the suites use names in Cyrillic and Japanese.
export LC_ALL=C.UTF-8
mkdir -p "$HOME"
printf 'pcm.!default {\n  type null\n}\nctl.!default {\n  type hw\n  card 0\n}\n' >"$HOME/.asoundrc"

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 150); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { echo "wine-test: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(cat "$work/display")

started=$(date +%s)
mkdir -p "$WINEPREFIX"
wineserver -p
wine wineboot --init >/dev/null 2>&1
echo "wine-test: new Wine prefix ready in $(($(date +%s) - started)) s"
ctest --test-dir "$build" --output-on-failure "$@"

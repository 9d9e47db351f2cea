#!/usr/bin/env bash
# Builds the fuzzers with clang in their own build directory and runs each for a bounded time (30 s, or
# QUAVLO_FUZZ_SECONDS): fuzz_reader (reader, writer round trip and repair), fuzz_module (playback), fuzz_link (the
# song link's base64url, DEFLATE both ways, and the module reader behind) and fuzz_midi (the MIDI parser and queue).
# Fails on any finding. Usage: tests/fuzz/run.sh <repo-root>
set -euo pipefail
root=$(cd "${1:-$(dirname "$0")/../..}" && pwd)
build="$root/build-fuzz"
seconds=${QUAVLO_FUZZ_SECONDS:-30}
work="$root/tests/fuzz/corpus-work" # inputs the fuzzers find; kept between runs, never committed

CC=clang CXX=clang++ cmake -S "$root/tests/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"${QUAVLO_JOBS:-2}" --target fuzz_reader fuzz_module fuzz_link fuzz_midi >/dev/null

failed=0
for target in fuzz_reader fuzz_module fuzz_link fuzz_midi; do
  mkdir -p "$work/$target"
  # The module targets share the module seeds and dictionary; the MIDI target has its own.
  seeds=corpus dict=module.dict
  [ "$target" = fuzz_midi ] && seeds=corpus-midi dict=midi.dict
  log="$build/$target.log"
  status=0
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/$target" -max_total_time="$seconds" -max_len=8192 -timeout=20 -rss_limit_mb=2048 \
    -dict="$root/tests/fuzz/$dict" -print_final_stats=1 -artifact_prefix="$build/$target-" \
    "$work/$target" "$root/tests/fuzz/$seeds" >"$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "fuzz: $target FINDING after ${execs:-?} executions (exit $status); the input is saved in $build ($target-crash-*)" >&2
    failed=1
  else
    echo "fuzz: $target ${execs:-?} executions in ${seconds} s, no finding"
  fi
done
exit "$failed"

#!/usr/bin/env bash
# Builds the module fuzzer with clang in its own build directory and runs it for a bounded time (60 s, or
# QUAVLO_FUZZ_SECONDS); fails on any finding. Usage: tests/fuzz/run.sh <repo-root>
set -euo pipefail
root=$(cd "${1:-$(dirname "$0")/../..}" && pwd)
build="$root/build-fuzz"
seconds=${QUAVLO_FUZZ_SECONDS:-60}
work="$root/tests/fuzz/corpus-work" # inputs the fuzzer finds; kept between runs, never committed

CC=clang CXX=clang++ cmake -S "$root/tests/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"${QUAVLO_JOBS:-2}" --target fuzz_module >/dev/null
mkdir -p "$work"

log="$build/fuzz.log"
status=0
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$build/fuzz_module" -max_total_time="$seconds" -max_len=8192 -timeout=20 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$build/" "$work" "$root/tests/fuzz/corpus" >"$log" 2>&1 || status=$?

execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
if [ "$status" -ne 0 ]; then
  tail -n 60 "$log" >&2
  echo "fuzz: FINDING after ${execs:-?} executions (exit $status); the input is saved in $build (crash-*)" >&2
  exit 1
fi
echo "fuzz: ${execs:-?} executions in ${seconds} s, no finding"

#!/usr/bin/env bash
# A long fuzzing campaign over the fuzzers (the two module fuzzers, the song link's and the MIDI one) on all cores,
# at low priority (nice 10).
#   tests/fuzz/campaign.sh HOURS [repo-root]   builds, runs for HOURS (fractions allowed), then reports
#   tests/fuzz/campaign.sh --report [repo-root] reports on the campaign running or last run
# The cores are split between fuzz_reader, fuzz_module, fuzz_link and fuzz_midi, at least one process each. Each process
# shares its target's corpus (tests/fuzz/corpus-work/<target>, seeded from tests/fuzz/corpus, or corpus-midi for
# fuzz_midi) with the other processes of that target. A process that stops on a finding keeps its input in build-fuzz/campaign/findings and is started
# again until the time is up. Interrupting the script stops the processes and reports. The report gives per
# target the executions, the processes, the seconds, executions per second (all processes together and per
# process) and the findings; the exit status is 1 when there was a finding.
set -uo pipefail
mode=run
if [ "${1:-}" = "--report" ]; then
  mode=report
else
  hours=${1:?usage: campaign.sh HOURS [repo-root] | campaign.sh --report [repo-root]}
fi
root=$(cd "${2:-$(dirname "$0")/../..}" && pwd)
build="$root/build-fuzz"
camp="$build/campaign"
targets="fuzz_reader fuzz_module fuzz_link fuzz_midi"

# Executions of one process log: its final figure when it has stopped, else its latest progress line.
log_execs() {
  local n
  n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$1" | tail -1)
  [ -n "$n" ] || n=$(grep -ao '^#[0-9]*' "$1" | tail -1 | tr -d '#')
  echo "${n:-0}"
}

report() {
  local start end seconds found=0
  start=$(cat "$camp/start" 2>/dev/null || echo 0)
  end=$(cat "$camp/end" 2>/dev/null || date +%s)
  seconds=$((end - start))
  [ "$seconds" -gt 0 ] || seconds=1
  echo "campaign: $(date -u -d @"$start" '+%F %T') UTC, ${seconds} s"
  for target in $targets; do
    local execs=0 procs findings
    for log in "$camp/logs/$target".*.log; do
      [ -e "$log" ] || continue
      execs=$((execs + $(log_execs "$log")))
    done
    procs=$(cat "$camp/procs.$target" 2>/dev/null || echo 1)
    findings=$(find "$camp/findings" -name "$target-*" 2>/dev/null | wc -l)
    found=$((found + findings))
    echo "campaign: $target executions=$execs processes=$procs seconds=$seconds" \
      "exec/s=$((execs / seconds)) per-process-exec/s=$((execs / seconds / procs)) findings=$findings"
  done
  find "$camp/findings" -type f 2>/dev/null | sed 's/^/campaign: finding /'
  [ "$found" -eq 0 ]
}

if [ "$mode" = report ]; then
  report
  exit
fi

CC=clang CXX=clang++ cmake -S "$root/tests/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"${QUAVLO_JOBS:-2}" --target $targets >/dev/null || exit 2

rm -rf "$camp"
mkdir -p "$camp/logs" "$camp/findings"
cores=$(nproc)
per_target=$((cores / $(echo $targets | wc -w)))
[ "$per_target" -ge 1 ] || per_target=1
now=$(date +%s)
echo "$now" >"$camp/start"
deadline=$(awk -v now="$now" -v h="$hours" 'BEGIN { printf "%d", now + h * 3600 }')

# One process slot: runs the target until the deadline, again after each finding.
run_slot() {
  local target=$1 slot=$2 round=0 left status timeout=10 seeds=corpus dict=module.dict
  [ "$target" = fuzz_module ] && timeout=30
  [ "$target" = fuzz_midi ] && seeds=corpus-midi dict=midi.dict
  mkdir -p "$root/tests/fuzz/corpus-work/$target"
  while left=$((deadline - $(date +%s))) && [ "$left" -gt 0 ]; do
    round=$((round + 1))
    local log="$camp/logs/$target.$slot.$round.log"
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      nice -n 10 "$build/$target" -max_total_time="$left" -max_len=8192 -timeout="$timeout" -rss_limit_mb=2048 \
      -dict="$root/tests/fuzz/$dict" -print_final_stats=1 -artifact_prefix="$camp/findings/$target-" \
      "$root/tests/fuzz/corpus-work/$target" "$root/tests/fuzz/$seeds" >"$log" 2>&1 &
    local pid=$!
    echo "$pid" >"$camp/pid.$target.$slot"
    wait "$pid"
    status=$?
    [ -e "$camp/stop" ] && break
    [ "$status" -eq 0 ] || echo "campaign: $target finding (exit $status), see $log" >&2
  done
}

stop() {
  touch "$camp/stop"
  for f in "$camp"/pid.*; do kill -INT "$(cat "$f")" 2>/dev/null; done
}
trap stop INT TERM

for target in $targets; do
  echo "$per_target" >"$camp/procs.$target"
  for slot in $(seq 1 "$per_target"); do run_slot "$target" "$slot" & done
done
echo "campaign: ${hours} h, $per_target process(es) per target, logs in $camp/logs"
while [ -n "$(jobs -rp)" ]; do wait; done
date +%s >"$camp/end"
report

#!/usr/bin/env bash
# Builds the replayer as WebAssembly (scripts/web-replay.sh) into WORK_DIR and checks it in node against quavlo-cli
# (check_wasm.mjs). Skipped (77) without emcc or node. Usage: check_wasm.sh REPO_ROOT WORK_DIR QUAVLO_CLI
set -euo pipefail
root=$1 work=$2 cli=$3
for tool in emcc node; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: no $tool (scripts/setup.sh installs it)"
    exit 77
  fi
done
"$root/scripts/web-replay.sh" "$work"
node "$root/tests/replay/check_wasm.mjs" "$work" "$cli" "$root"

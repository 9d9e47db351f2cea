#!/usr/bin/env bash
# Installs what is missing, builds the tracker and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"${QUAVLO_JOBS:-2}" --target quavlo
exec build/app/quavlo "$@"

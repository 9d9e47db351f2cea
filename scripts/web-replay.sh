#!/usr/bin/env bash
# Builds the replayer for web pages and games: the drop-in source (scripts/amalgamate.sh) compiled by emscripten
# with the small mixer and the written-out tables into a plain WebAssembly module, quavlo-replay.wasm, beside the
# hand-written ES module quavlo-replay.mjs that wraps it (replay/web/). Prints their sizes, gzipped.
# Usage: scripts/web-replay.sh [OUT_DIR]   (default build-web/replay)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build-web/replay}
mkdir -p "$out"
# Debian's emscripten runs its tools with node, from the modules Debian installs there.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$root/scripts/amalgamate.sh" "$work" >/dev/null
exports=(open_rate render render_f32 position set_passes length seek frames version close)
exported=$(printf '_qvl_replay_%s,' "${exports[@]}")_malloc,_free
emcc -Oz -DQVL_REPLAY_SMALL -DQVL_WRITTEN_TABLES -fno-exceptions -Wall -Wextra -Werror "$work/quavlo_replay.cpp" \
  --no-entry -sSTANDALONE_WASM -sALLOW_MEMORY_GROWTH=1 -sMALLOC=emmalloc -sEXPORTED_FUNCTIONS="$exported" \
  -o "$out/quavlo-replay.wasm"
cp "$root/replay/web/quavlo-replay.mjs" "$out/quavlo-replay.mjs"
wasm=$(gzip -9 -c "$out/quavlo-replay.wasm" | wc -c)
module=$(gzip -9 -c "$out/quavlo-replay.mjs" | wc -c)
echo "wrote $out/quavlo-replay.mjs and quavlo-replay.wasm: $((module + wasm)) bytes gzipped" \
  "(module $module, wasm $wasm)"

#!/usr/bin/env bash
# The tracker in the browser: installs what is missing (scripts/setup.sh), builds the site with emscripten into
# build-web/site/ (index.html, quavlo.js and quavlo.wasm, the manifest, the service worker and the icons: static
# files only, for any static host) and serves it on http://127.0.0.1:8080/.
#   scripts/web.sh           build and serve (Ctrl+C stops the server)
#   scripts/web.sh --build   only build
#   scripts/web.sh --bench   build, then measure the page's budgets in headless Chromium (size, first frame,
#                            key to sound, CPU idle and playing)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${QUAVLO_JOBS:-2}
mode=${1:-serve}
case "$mode" in
serve | --build | --bench) ;;
*)
  echo "usage: scripts/web.sh [--build | --bench]" >&2
  exit 2
  ;;
esac

scripts/setup.sh

# Debian's emscripten finds its JavaScript parser (acorn) among Debian's node modules.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}

# The site's icon is drawn by the native picture tool, as the desktop's is.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs" --target quavlo-make-pictures quavlo-cli >/dev/null

emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release \
  -DQUAVLO_HOST_PICTURES="$root/build/tools/quavlo-make-pictures" >/dev/null
cmake --build build-web -j"$jobs"
site=build-web/site
# The replayer's web module builds beside the site, with its own script, where there is one.
if [ -x scripts/web-replay.sh ]; then scripts/web-replay.sh; fi
echo "site: $site ($(cd "$site" && ls | tr '\n' ' '))"

case "$mode" in
--build) ;;
--bench)
  (cd tests/web && node web_bench.js "$root/$site" "$root/../shared/bench/bench_song.qvl" "${QUAVLO_WEB_SECONDS:-10}")
  ;;
serve)
  echo "QuavloII on http://127.0.0.1:8080/ (Ctrl+C stops the server)"
  exec python3 -m http.server 8080 --bind 127.0.0.1 --directory "$site"
  ;;
esac

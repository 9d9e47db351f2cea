#!/usr/bin/env bash
# Runs examples/web/check.html in a headless Chromium (check_web_page.mjs drives it): the replayer's AudioWorklet
# node must give exactly the frames of the module's own render (the page writes PASS or FAIL into its title).
# Serves the repository's folder over HTTP on a free local port for the time of the check. Build first:
# scripts/web.sh --build.
# Usage: check_web_page.sh [CHROMIUM]   Exit status: 0 passed, 1 failed, 77 no Chromium or no build.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
chromium=${1:-$(command -v chromium || command -v chromium-browser || true)}
if [ -z "$chromium" ] || ! command -v node >/dev/null || [ ! -f "$root/build-web/replay/quavlo-replay.wasm" ]; then
  echo "SKIP: needs Chromium, node and scripts/web.sh --build"
  exit 77
fi
log=$(mktemp)
python3 -m http.server 0 --bind 127.0.0.1 --directory "$root" >"$log" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null; rm -f "$log"' EXIT
port=
for _ in $(seq 50); do
  port=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$log" | head -n 1)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the HTTP server did not start" >&2; exit 1; }
node "$root/tests/replay/check_web_page.mjs" "$chromium" "http://127.0.0.1:$port/examples/web/check.html"

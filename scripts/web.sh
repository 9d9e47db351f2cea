#!/usr/bin/env bash
# The web builds. --build: the replayer as WebAssembly with its ES module into build-web/replay
# (scripts/web-replay.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
case "${1:-}" in
  --build) "$here/web-replay.sh" ;;
  *)
    echo "usage: $0 --build" >&2
    exit 2
    ;;
esac

#!/usr/bin/env bash
# The drop-in replayer: scripts/amalgamate.sh writes it, g++ compiles it on its own without a warning, the example
# render_header.c linked with it from C writes the same WAV file as quavlo-cli render, and MinGW-w64 compiles and
# links it for Windows. Both files carry the license's full text. Usage: check_amalgamation.sh REPO_ROOT WORK_DIR QUAVLO_CLI [MINGW_CXX]
set -euo pipefail
root=$1 work=$2 cli=$3 mingw=${4:-}
rm -rf "$work"
mkdir -p "$work"
cd "$work"

"$root/scripts/amalgamate.sh" dropin
license=$(cat "$root/LICENSE")
for f in dropin/quavlo_replay.cpp dropin/quavlo_replay.h; do
  first_comment=$(sed -n -e '1,30{s|^// \{0,1\}||' -e 's|^   ||' -e 'p}' "$f")
  [[ "$first_comment" == *"$license"* ]] || { echo "$f does not begin with the license" >&2; exit 1; }
done
g++ -c -O2 -Wall -Wextra -Werror dropin/quavlo_replay.cpp -o quavlo_replay.o
"$cli" header "$root/examples/tune.qvl" tune.h
cc -std=c99 -O2 -Wall -Wextra -Werror -Idropin -I. "$root/examples/render_header.c" quavlo_replay.o \
  -lstdc++ -lm -lpthread -o render_header
./render_header dropin.wav
"$cli" render "$root/examples/tune.qvl" cli.wav --passes 1000 --seconds 600
cmp dropin.wav cli.wav
echo "drop-in render equals quavlo-cli render ($(stat -c %s cli.wav) bytes)"

if [ -n "$mingw" ]; then
  "$mingw" -c -O2 -Wall -Wextra -Werror dropin/quavlo_replay.cpp -o quavlo_replay.obj
  "${mingw/g++/gcc}" -std=c99 -O2 -Wall -Wextra -Werror -Idropin -I. -c "$root/examples/render_header.c" \
    -o render_header.obj
  "$mingw" -static render_header.obj quavlo_replay.obj -o render_header.exe
  echo "MinGW-w64 built render_header.exe ($(stat -c %s render_header.exe) bytes)"
fi

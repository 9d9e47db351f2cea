#!/usr/bin/env bash
# The drop-in replayer: scripts/amalgamate.sh writes it, both files carry the license's full text, g++ compiles it on
# its own without a warning, it defines no global symbol but the qvl_replay_ functions and needs no C++ runtime, the
# example render_header.c linked with it from C with libm alone writes the same WAV file as quavlo-cli render (with
# the fast mixer and with the small one), and MinGW-w64 compiles it and links it from C without the C++ runtime.
# Usage: check_amalgamation.sh REPO_ROOT WORK_DIR QUAVLO_CLI [MINGW_CXX]
set -euo pipefail
root=$1 work=$2 cli=$3 mingw=${4:-}
rm -rf "$work"
mkdir -p "$work"
cd "$work"

# Global symbols defined outside qvl_replay_, or references to the C++ runtime or a thread library, in object $2.
foreign_symbols() {
  local nm=$1 object=$2
  "$nm" -g --defined-only "$object" | awk 'NF == 3 && $3 !~ /^qvl_replay_[a-z0-9_]+$/ { print "defines " $3 }'
  "$nm" -u "$object" | awk '$2 ~ /^(_Z|__cxa_|__gxx_|_Unwind_|pthread_)/ { print "calls " $2 }'
}

"$root/scripts/amalgamate.sh" dropin
license=$(cat "$root/LICENSE")
for f in dropin/quavlo_replay.cpp dropin/quavlo_replay.h; do
  first_comment=$(sed -n -e '1,30{s|^// \{0,1\}||' -e 's|^   ||' -e 'p}' "$f")
  [[ "$first_comment" == *"$license"* ]] || { echo "$f does not begin with the license" >&2; exit 1; }
done
"$cli" header "$root/examples/tune.qvl" tune.h
"$cli" render "$root/examples/tune.qvl" cli.wav --passes 1000 --seconds 600
for build in fast small; do
  flags=(-O2)
  [ "$build" = small ] && flags=(-Os -DQVL_REPLAY_SMALL)
  g++ -c "${flags[@]}" -Wall -Wextra -Werror dropin/quavlo_replay.cpp -o "$build.o"
  found=$(foreign_symbols nm "$build.o")
  if [ -n "$found" ]; then
    echo "the drop-in ($build) $found" >&2
    exit 1
  fi
  cc -std=c99 -O2 -Wall -Wextra -Werror -Idropin -I. "$root/examples/render_header.c" "$build.o" -lm \
    -o "render_header_$build"
  "./render_header_$build" "$build.wav"
  cmp "$build.wav" cli.wav
  echo "drop-in ($build mixer, $(size "$build.o" | awk 'NR == 2 { print $1 }') bytes of code) renders what quavlo-cli" \
    "renders ($(stat -c %s cli.wav) bytes), defines only qvl_replay_ symbols and links from C with libm alone"
done

if [ -n "$mingw" ]; then
  "$mingw" -c -O2 -Wall -Wextra -Werror dropin/quavlo_replay.cpp -o quavlo_replay.obj
  found=$(foreign_symbols "${mingw%%-g++*}-nm" quavlo_replay.obj)
  if [ -n "$found" ]; then
    echo "the drop-in for Windows $found" >&2
    exit 1
  fi
  "${mingw/g++/gcc}" -std=c99 -O2 -Wall -Wextra -Werror -Idropin -I. -c "$root/examples/render_header.c" \
    -o render_header.obj
  "${mingw/g++/gcc}" render_header.obj quavlo_replay.obj -o render_header.exe
  echo "MinGW-w64 built render_header.exe from C without the C++ runtime ($(stat -c %s render_header.exe) bytes)"
fi

#!/usr/bin/env bash
# Programs that take the replayer the ways a game would, each a C program (examples/two_songs.c, two songs at once)
# whose files must equal quavlo-cli render's:
#   - the replayer alone configured with the small mixer at -Os (no SDL, CLI11 or GoogleTest allowed to be found):
#     its library holds at most 12 KiB of code and only qvl_replay_ symbols; cmake --install puts it in a prefix,
#     and a CMake project finds it with find_package(quavlo_replay) and a plain cc command with pkg-config;
#   - a project(game C) that adds the QuavloII sources with add_subdirectory (fast mixer).
# Usage: check_consumers.sh REPO_ROOT WORK_DIR QUAVLO_CLI
set -euo pipefail
root=$1 work=$2 cli=$3
rm -rf "$work"
mkdir -p "$work"
cd "$work"
# Finding any of these would be a fault of the replayer's configuration: it must not look for them.
no_packages=(--no-warn-unused-cli -DCMAKE_DISABLE_FIND_PACKAGE_SDL2=ON -DCMAKE_DISABLE_FIND_PACKAGE_CLI11=ON
             -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_Threads=ON)
tune=$root/examples/tune.qvl jingle=$root/examples/jingle.qvl
"$cli" render "$tune" tune.wav --passes 1000 --seconds 600
"$cli" render "$jingle" jingle.wav --passes 1000 --seconds 600

# Runs a built program on both songs and compares its files with quavlo-cli's.
play() {
  local program=$1 name=$2
  "$program" "$tune" "$jingle" "$name-tune.wav" "$name-jingle.wav" 600
  cmp "$name-tune.wav" tune.wav
  cmp "$name-jingle.wav" jingle.wav
  echo "$name: both songs as quavlo-cli renders them"
}

cmake -S "$root" -B small -DQUAVLO_REPLAY_ONLY=ON -DQUAVLO_REPLAY_SMALL=ON -DCMAKE_BUILD_TYPE=MinSizeRel \
  "${no_packages[@]}" >/dev/null
cmake --build small -j2 >/dev/null
library=small/replay/libquavlo_replay.a
code=$(size -t "$library" | awk 'END { print $1 }')
echo "small build: $code bytes of code in libquavlo_replay.a (-Os)"
if [ "$code" -gt 12288 ]; then
  echo "the small build's library holds more than 12 KiB of code" >&2
  exit 1
fi
cmake -DNM=nm -DLIBRARY="$library" -DHEADER="$root/replay/quavlo_replay.h" \
  -P "$root/tests/replay/check_library_symbols.cmake"
cmake --install small --prefix "$work/prefix" --component replay >/dev/null
for file in include/quavlo_replay.h; do
  [ -f "prefix/$file" ] || { echo "the install lacks $file" >&2; exit 1; }
done

cmake -S "$root/tests/replay/consumer" -B found -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DGAME_SOURCE="$root/examples/two_songs.c" >/dev/null
cmake --build found >/dev/null
play found/game find_package

pc_dir=$(dirname "$(find prefix -name quavlo_replay.pc)")
# shellcheck disable=SC2046 # the flags are words
cc -std=c99 -O2 -Wall -Wextra -Werror "$root/examples/two_songs.c" -o game-pc \
  $(PKG_CONFIG_PATH=$work/$pc_dir pkg-config --cflags --libs quavlo_replay)
play ./game-pc pkg-config

cmake -S "$root/tests/replay/consumer" -B added -DQUAVLO_SOURCE_DIR="$root" \
  -DGAME_SOURCE="$root/examples/two_songs.c" "${no_packages[@]}" >/dev/null
cmake --build added -j2 >/dev/null
play added/game add_subdirectory

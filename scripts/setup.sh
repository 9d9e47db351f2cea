#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages the project needs to build, test and run; does nothing when all are there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git python3
  libgtest-dev googletest libgmock-dev libbenchmark-dev libcli11-dev libstb-dev
  libsdl2-dev
  librtmidi-dev libjack-jackd2-dev libasound2-dev jackd2
  clang libclang-rt-dev
  g++-mingw-w64-x86-64-posix
  xvfb xauth xdotool x11-utils x11-apps zenity xfonts-base
  desktop-file-utils shared-mime-info man-db
  weston libgl1-mesa-dri libegl-mesa0
  g++-mingw-w64-x86-64-posix wine wine64
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  apt_get=(apt-get)
elif command -v sudo >/dev/null 2>&1; then
  apt_get=(sudo apt-get)
else
  echo "setup: these packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${apt_get[@]}" update -qq
"${apt_get[@]}" install -y -qq --no-install-recommends "${missing[@]}"

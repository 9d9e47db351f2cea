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
  lintian appstream file
  weston libgl1-mesa-dri libegl-mesa0
  g++-mingw-w64-x86-64-posix wine wine64 nsis
  emscripten chromium
)
# Node and npm for the browser's tests: a node that is already there (nodesource's nodejs brings npm with it) is
# kept; Debian's packages only where there is none, since Debian's npm conflicts with nodesource's nodejs.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
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
  "${apt_get[@]}" -o DPkg::Lock::Timeout=600 update -qq
  "${apt_get[@]}" -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
fi

# The browser tests' puppeteer-core (it downloads no browser: they drive Debian's chromium), exactly as the lock
# file has it; again only when the lock file has changed since.
web_tests="$(cd "$(dirname "$0")/.." && pwd)/tests/web"
if [ -f "$web_tests/package-lock.json" ] &&
  { [ ! -f "$web_tests/node_modules/.package-lock.json" ] ||
    [ "$web_tests/package-lock.json" -nt "$web_tests/node_modules/.package-lock.json" ]; }; then
  echo "setup: npm ci in tests/web"
  (cd "$web_tests" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
fi

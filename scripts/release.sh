#!/usr/bin/env bash
# Builds the release artifacts of the commit checked out (HEAD, never uncommitted changes) into dist/:
#   quavlo_VERSION_amd64.deb                the tracker's Debian package (checked by lintian)
#   libquavlo-replay-dev_VERSION_amd64.deb  the replayer's development package (checked by lintian)
#   quavlo-VERSION.tar.gz                   the source (git archive of HEAD)
#   quavlo-replay-VERSION.zip               the drop-in replayer (quavlo_replay.cpp, quavlo_replay.h) and LICENSE
#   quavlo-VERSION-windows-x64.zip          the Windows programs (MinGW-w64 cross build, target package-windows)
#   quavlo-VERSION-windows-x64-setup.exe    their installer (NSIS, target installer-windows)
#   quavlo-VERSION-web.tar.gz               the browser's static site (scripts/web.sh --build) and the replayer's
#                                           WebAssembly module, for any static web host
#   SHA256SUMS                              the checksums of the files above
# Everything is built from the source tarball unpacked under build-release/, with SOURCE_DATE_EPOCH set to the
# commit's time: two runs from the same commit give byte-identical packages, tarball and replayer zip.
# Usage: scripts/release.sh [--quick]     --quick: only the Linux artifacts (no Windows, no web), for CI
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${QUAVLO_JOBS:-2}

quick=0
case "${1:-}" in
  --quick) quick=1 ;;
  "") ;;
  *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
esac

scripts/setup.sh

export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct HEAD)
export TZ=UTC LC_ALL=C.UTF-8
umask 022
version=$(git show HEAD:CMakeLists.txt | sed -n 's/^project(QuavloII VERSION \([0-9][0-9.]*\).*/\1/p')
[ -n "$version" ] || { echo "release: no version in CMakeLists.txt's project()" >&2; exit 1; }
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release: uncommitted changes are left out; building $(git rev-parse --short HEAD) as committed" >&2
fi

work=$root/build-release
src=$work/quavlo-$version
dist=$root/dist
rm -rf "$work" "$dist"
mkdir -p "$work" "$dist"

# A zip whose bytes depend only on the files' names and contents: sorted, dated SOURCE_DATE_EPOCH, plain modes.
make_zip() { # make_zip ZIP DIR: the folder DIR (relative to the current directory) and everything in it
  python3 - "$1" "$2" <<'PY'
import os, sys, time, zipfile
out, top = sys.argv[1:]
date = time.gmtime(int(os.environ["SOURCE_DATE_EPOCH"]))[:6]
files = sorted(os.path.join(d, f) for d, _, names in os.walk(top) for f in names)
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for path in files:
        info = zipfile.ZipInfo(path.replace(os.sep, "/"), date)
        info.external_attr = 0o100644 << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        with open(path, "rb") as f:
            z.writestr(info, f.read())
PY
}

# Each step puts its artifacts into dist/; a further artifact is a further step in the list at the bottom.

step_source() {
  echo "== source tarball"
  git archive --format=tar --prefix="quavlo-$version/" HEAD | gzip -9n >"$dist/quavlo-$version.tar.gz"
  tar -xzf "$dist/quavlo-$version.tar.gz" -C "$work"
}

step_deb() {
  echo "== Debian package"
  # Release optimisation with Debian's hardening flags; source and build paths left out of the binaries.
  local flags="-D_FORTIFY_SOURCE=2 -fstack-protector-strong -ffile-prefix-map=$src=. -ffile-prefix-map=$work/linux=."
  # cpack installs only what is built here: the packaged targets, not the tests.
  cmake -S "$src" -B "$work/linux" -DCMAKE_BUILD_TYPE=Release -DQUAVLO_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro -Wl,-z,now" \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
  cmake --build "$work/linux" -j"$jobs" --target quavlo quavlo-cli quavlo-icons quavlo-docs quavlo_replay
  (cd "$work/linux" && cpack -G DEB -B "$work/deb" >/dev/null)
  cp "$work"/deb/*.deb "$dist/"
  lintian --fail-on error,warning --tag-display-limit 0 "$dist"/*.deb
  echo "lintian: no error, no warning"
  appstreamcli validate --no-net "$work/linux/packaging/io.github.quavlo.QuavloII.metainfo.xml"
  desktop-file-validate "$src/packaging/io.github.quavlo.QuavloII.desktop"
}

step_replayer() {
  echo "== drop-in replayer"
  local name=quavlo-replay-$version
  "$src/scripts/amalgamate.sh" "$work/replayer/$name" >/dev/null
  cp "$src/LICENSE" "$work/replayer/$name/LICENSE"
  (cd "$work/replayer" && make_zip "$dist/$name.zip" "$name")
}

step_windows() {
  echo "== Windows zip and installer"
  cmake -S "$src" -B "$work/win64" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQUAVLO_BENCH=OFF >/dev/null
  cmake --build "$work/win64" -j"$jobs" --target package-windows installer-windows
  cp "$work/win64/QuavloII-windows-x64.zip" "$dist/quavlo-$version-windows-x64.zip"
  cp "$work/win64/QuavloII-setup.exe" "$dist/quavlo-$version-windows-x64-setup.exe"
}

step_web() {
  echo "== the browser's site"
  (cd "$src" && scripts/web.sh --build)
  local name=quavlo-$version-web
  rm -rf "$work/web"
  mkdir -p "$work/web/$name"
  cp -r "$src/build-web/site/." "$work/web/$name/"
  mkdir -p "$work/web/$name/replay"
  cp "$src"/build-web/replay/quavlo-replay.* "$work/web/$name/replay/"
  # Sorted names, the commit's time, no owners: the same bytes on every run.
  (cd "$work/web" && tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
    -cf - "$name" | gzip -9n >"$dist/$name.tar.gz")
}

step_sums() {
  (cd "$dist" && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%f\n' | sort | xargs sha256sum >SHA256SUMS)
}

steps=(source deb replayer)
[ "$quick" -eq 1 ] || steps+=(windows web)
for step in "${steps[@]}" sums; do
  "step_$step"
done
echo "== dist/ ($(git rev-parse --short HEAD), SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
(cd "$dist" && ls -l --time-style=+ | tail -n +2 && cat SHA256SUMS)

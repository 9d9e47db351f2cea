#!/usr/bin/env bash
# Builds and runs every test: the plain build (unit, reference and end-to-end tests), the browser's page (built
# with emscripten, driven in headless Chromium), the same suites under
# AddressSanitizer + UndefinedBehaviorSanitizer, the audio stress test under ThreadSanitizer, the Windows
# cross-build with its tests under Wine, the Linux release artifacts built twice (lintian, AppStream and
# desktop-entry checks on the way) to show they come out byte for byte the same, and the two fuzz targets.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${QUAVLO_JOBS:-2}

scripts/setup.sh

echo "== plain build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

echo "== web: the site built with emcc, the page in headless Chromium from 127.0.0.1"
scripts/web.sh --build
(cd tests/web && node web_test.js "$root/build-web/site" "$root/build/tools/quavlo-cli" "$root")
# The replayer's WebAssembly module in Chromium: its AudioWorklet node against the module's own frames.
tests/replay/check_web_page.sh

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUAVLO_SANITIZE=ON -DQUAVLO_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j"$jobs" -LE 'e2e|slow')

echo "== ThreadSanitizer (audio thread stress, editor, file commands, MIDI and the soak test against the live audio thread)"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUAVLO_TSAN=ON -DQUAVLO_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$jobs" --target test_audio_stress test_app_editor test_app_files test_app_lifecycle test_app_undo \
  test_app_soak_posix test_app_midi test_midi test_app_sound
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -L tsan --no-tests=ignore)

echo "== Windows: MinGW-w64 cross-build; portable suites, Win32 backends, resources, reference songs, quavlo.exe and the installer under Wine"
windows_started=$(date +%s)
# The same optimisation as the plain build, without debugging information: the static links stay small and quick.
cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
  -DQUAVLO_BENCH=OFF -DQUAVLO_HOST_CLI="$root/build/tools/quavlo-cli" >/dev/null
cmake --build build-win64 -j"$jobs"
scripts/wine-test.sh build-win64 -j"$jobs"
cmake --build build-win64 --target package-windows >/dev/null
python3 - build-win64/QuavloII-windows-x64.zip <<'PY'
import sys, zipfile
names = sorted(i.filename for i in zipfile.ZipFile(sys.argv[1]).infolist() if not i.is_dir())
want = ["QuavloII/LICENSE.txt", "QuavloII/README.txt", "QuavloII/THIRD-PARTY.txt", "QuavloII/quavlo-cli.exe",
        "QuavloII/quavlo.exe"]
sys.exit(0 if names == want else "the Windows package holds %s" % names)
PY
echo "package: build-win64/QuavloII-windows-x64.zip; installer: build-win64/QuavloII-setup.exe (made by the installer test)"
[ -s build-win64/QuavloII-setup.exe ] || { echo "no build-win64/QuavloII-setup.exe" >&2; exit 1; }
echo "Windows stage: $(($(date +%s) - windows_started)) s"

echo "== release: the Linux artifacts twice from the same commit, byte for byte the same"
scripts/release.sh --quick
cp dist/SHA256SUMS build/release-first.sha256
scripts/release.sh --quick
diff build/release-first.sha256 dist/SHA256SUMS || { echo "release: the second build differs" >&2; exit 1; }

if [ -x tests/fuzz/run.sh ]; then
  echo "== fuzzing"
  tests/fuzz/run.sh "$root"
fi
echo "== all tests passed"

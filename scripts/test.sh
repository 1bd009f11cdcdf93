#!/bin/sh
# Builds and runs the whole test suite: the Linux build with its tests, the same under the
# sanitizers, the Debian package, and the Windows cross build with its tests under Wine.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh

step() { printf '\n== %s\n' "$*"; }

# The programs that the tests start record every run in a journal: here, never in the user's.
XDG_STATE_HOME=$(mktemp -d)
export XDG_STATE_HOME
trap 'rm -rf "$XDG_STATE_HOME"' EXIT

step "Linux build (dev: debug, warnings as errors)"
cmake --preset dev > /dev/null
cmake --build --preset dev
ctest --preset dev

step "AddressSanitizer + UndefinedBehaviorSanitizer"
cmake --preset asan > /dev/null
cmake --build --preset asan
ctest --preset asan

step "ThreadSanitizer: the worker threads' tests (label threads)"
cmake --preset tsan > /dev/null
cmake --build --preset tsan --target zq_thread_tests
ctest --preset tsan -L threads

step "Fuzzing every parser (clang, libFuzzer, ASan + UBSan)"
scripts/fuzz.sh 25

step "Debian package: built, unpacked and tried on its own kvsb-sim, lintian"
cmake --workflow --preset package-deb
tests/package/deb_package.sh build/deb/zidavuvorud_1.02_amd64.deb build/deb/tools/compare_dump \
    examples build/deb/package-test

step "Windows cross build (mingw-w64), tests under Wine"
# The Wine tests burn through COM5 on the dev build's simulator and check its dumps.
cmake --preset mingw -DZQ_KVSB_SIM="$PWD/build/dev/sim/kvsb-sim" \
    -DZQ_COMPARE_DUMP="$PWD/build/dev/tools/compare_dump" > /dev/null
cmake --build --preset mingw
. scripts/wine-env.sh
status=0
ctest --preset mingw || status=$?
wineserver -k || true
zq_wine_end
[ "$status" -eq 0 ] || exit "$status"

step "All tests passed"

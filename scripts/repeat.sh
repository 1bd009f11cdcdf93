#!/bin/sh
# Runs the tests of one ctest label N times in a row and prints, for each test, how often it
# passed and failed: the way to show that a label does not flake. A test that fails once is a
# fault to find, never one to run again.
# Usage: scripts/repeat.sh LABEL N [PRESET]
#   LABEL   wine, gui, faults, threads, ... (ctest -L)
#   PRESET  the build to test; mingw for wine, dev for the others. The build must exist.
# The Wine label starts from a fresh Wine prefix. Each failed run's output is kept in
# build/PRESET/repeat-LABEL/run-K.log.
set -eu
cd "$(dirname "$0")/.."
[ $# -ge 2 ] || { echo "usage: scripts/repeat.sh LABEL N [PRESET]" >&2; exit 2; }
label=$1
runs=$2
if [ "$label" = wine ]; then preset=${3:-mingw}; else preset=${3:-dev}; fi
build="build/$preset"
[ -f "$build/CTestTestfile.cmake" ] || { echo "no build in $build: build the $preset preset first" >&2; exit 2; }
logs="$build/repeat-$label"
rm -rf "$logs" && mkdir -p "$logs"

if [ "$preset" = mingw ]; then
    wineserver -k 2> /dev/null || true
    rm -rf "$build/wineprefix"
    ZQ_WINE_BUILD=$build . scripts/wine-env.sh
fi

i=1
started=$(date +%s)
while [ "$i" -le "$runs" ]; do
    t0=$(date +%s)
    if ctest --preset "$preset" -L "$label" --output-junit "$PWD/$logs/run-$i.xml" \
        > "$logs/run-$i.log" 2>&1; then
        rm -f "$logs/run-$i.log"
        verdict=passed
    else
        verdict="FAILED (see $logs/run-$i.log)"
    fi
    echo "run $i of $runs: $verdict in $(( $(date +%s) - t0 )) s"
    i=$((i + 1))
done

if [ "$preset" = mingw ]; then
    wineserver -k 2> /dev/null || true
    zq_wine_end
fi

echo "label $label, $runs runs in $(( $(date +%s) - started )) s:"
python3 - "$logs" "$runs" << 'EOF'
import collections, glob, os, sys
import xml.etree.ElementTree as ET

folder, runs = sys.argv[1], int(sys.argv[2])
passed, failed = collections.Counter(), collections.Counter()
for path in glob.glob(os.path.join(folder, "run-*.xml")):
    for case in ET.parse(path).getroot().iter("testcase"):
        name = case.get("name")
        # A skipped test (no simulator in the build) counts as neither.
        if case.find("skipped") is not None or case.get("status") == "notrun":
            continue
        if case.find("failure") is not None or case.find("error") is not None:
            failed[name] += 1
        else:
            passed[name] += 1
names = sorted(set(passed) | set(failed))
width = max([len(n) for n in names] + [4])
print("%-*s  passed  failed" % (width, "test"))
for name in names:
    print("%-*s  %6d  %6d" % (width, name, passed[name], failed[name]))
total = sum(failed.values())
print("%d tests, %d failures in %d runs" % (len(names), total, runs))
sys.exit(1 if total else 0)
EOF

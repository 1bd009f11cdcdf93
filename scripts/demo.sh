#!/bin/sh
# The program's main job on this machine, with kvsb-sim in place of the KVSB adapter and a
# KREF10x unit (two MPC8270 processors behind one connector): installs what is missing, builds,
# burns the example RT19_bin's images with `zidavuvorud-cli burn --yes`, then compares the
# simulated flash with the images.
#   scripts/demo.sh [UNIT]    UNIT: KREF10x (default), KRAB101, KRCD101, KRGH101 or KRIJ11x
# With --window first, for a person at a desktop: opens the window `zidavuvorud` on the
# simulator instead, with the simulator's line first in the port list; choose the unit there,
# press "Otevřít" and follow the operator field with "Naprogramovat". Closing the window ends
# the demo.
#   scripts/demo.sh --window [UNIT]
set -eu
cd "$(dirname "$0")/.."
window=
if [ "${1:-}" = "--window" ]; then
    window=1
    shift
fi
unit=${1:-KREF10x}

scripts/install-deps.sh
cmake --preset release > /dev/null
if [ -n "$window" ]; then
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
        echo "$0 --window needs a desktop (DISPLAY or WAYLAND_DISPLAY)." >&2
        exit 2
    fi
    cmake --build --preset release --target zidavuvorud kvsb-sim
else
    cmake --build --preset release --target zidavuvorud-cli kvsb-sim compare_dump
fi
bin=build/release

# What the simulator plays for each unit of the example RT19_bin, and which of its modules
# (dump folders) take which image: folder=file.
case $unit in
    KRAB101) sim="" modules="ch1=krab101_31.omf" plid=0x10000001 ;;
    KRIJ11x) sim="--plid 0x20000003" modules="ch1=krij11x_31.elf" plid=0x20000003 ;;
    KREF10x) sim="--plid 0x20000001" plid=0x20000001
             modules="ch0=kref10x_a_31.elf ch1=kref10x_b_31.elf" ;;
    KRGH101) sim="--plid 0x30000001" plid=0x30000001
             modules="ch0=krgh101_a_31.elf ch1=krgh101_b_31.elf" ;;
    KRCD101) sim="--plid 0x10000100 --second-module --plid-second 0x10000100" plid=0x10000100
             modules="ch1=krcd101_l_31.omf ch1-second=krcd101_r_31.omf" ;;
    *) echo "usage: $0 [KRAB101|KRCD101|KREF10x|KRGH101|KRIJ11x]" >&2; exit 2 ;;
esac

work=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The simulator prints its pseudo-terminal's path first, and with --once ends (writing the
# dump of every module) when the program lets go of the line. The window's operator may open
# and close the port as often as he likes: there it serves until the demo ends.
once=--once
[ -n "$window" ] && once=
# shellcheck disable=SC2086
"$bin/sim/kvsb-sim" $once --power-on-ms 300 --erase-ms 400 --dump "$work/dump" $sim \
    > "$work/sim.out" 2>&1 &
sim_pid=$!
tries=0
while [ ! -s "$work/sim.out" ] && [ $tries -lt 100 ]; do sleep 0.05; tries=$((tries + 1)); done
pty=$(head -n 1 "$work/sim.out")
echo "kvsb-sim serves $pty"
echo

if [ -n "$window" ]; then
    echo "Opening the window: choose $unit, press Otevřít, then Naprogramovat."
    "$bin/src/qt/zidavuvorud" -C examples --port "$pty"
    exit 0
fi

status=0
"$bin/src/cli/zidavuvorud-cli" -C examples burn --port "$pty" --unit "$unit" --yes || status=$?
wait "$sim_pid" || true
sim_pid=
[ "$status" -eq 0 ] || { echo "The burn failed (exit $status)." >&2; exit 1; }

echo
echo "Comparing the simulated memory with the images:"
equal=0
for m in $modules; do
    folder=${m%%=*}
    file=${m#*=}
    echo "$folder <- $file"
    "$bin/tools/compare_dump" "examples/RT19_bin/$file" "$plid" "$work/dump/$folder" || equal=1
done
echo
if [ "$equal" -eq 0 ]; then
    echo "The simulated flash of $unit equals the images."
else
    echo "The simulated flash of $unit differs from the images." >&2
    exit 1
fi

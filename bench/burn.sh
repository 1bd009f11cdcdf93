#!/bin/sh
# Times `zidavuvorud-cli burn --yes` against kvsb-sim on a line paced at 921600 Bd, with erases
# that take no time, for a 1 MiB and a 64 KiB flash image (MPC8270, 0x20000001), three runs
# each. Per run: the wall time of the whole burn (start-up, connect, daemon upload, burn), the
# simulator's wire time for the bytes it served (the line's own cost: a lower bound), their
# ratio, the CLI's CPU time and its peak resident memory (GNU time). Every run is checked: the
# simulated flash must equal the image.
# Usage: bench/burn.sh   (builds the release preset; figures go into BENCHMARKS.md)
set -eu
cd "$(dirname "$0")/.."
cmake --preset release > /dev/null
cmake --build --preset release --target zidavuvorud-cli kvsb-sim compare_dump make_burn_images \
    > /dev/null
bin=build/release
work=$bin/bench/burn
rm -rf "$work"
mkdir -p "$work"
"$bin/bench/make_burn_images" "$work"

run() {  # version file run
    rm -rf "$work/dump" "$work/sim.out"
    "$bin/sim/kvsb-sim" --once --baud 921600 --erase-ms 0 --power-on-ms 0 --plid 0x20000001 \
        --summary --dump "$work/dump" > "$work/sim.out" 2>&1 &
    sim=$!
    while [ ! -s "$work/sim.out" ]; do sleep 0.02; done
    pty=$(head -n 1 "$work/sim.out")
    start=$(date +%s%N)
    /usr/bin/time -f '%U %S %M' -o "$work/time.out" "$bin/src/cli/zidavuvorud-cli" -C "$work" \
        burn --port "$pty" --unit KRAB101 --sw "$1" --yes > "$work/cli.out"
    end=$(date +%s%N)
    wait "$sim"
    "$bin/tools/compare_dump" "$work/RT19_bin/$2" 0x20000001 "$work/dump/ch1" > /dev/null ||
        { echo "run $3: the simulated flash differs from the image" >&2; exit 1; }
    wire=$(sed -n 's/.*total \([0-9.]*\) s.*/\1/p' "$work/sim.out")
    read -r user sys peak < "$work/time.out"
    awk -v ns=$((end - start)) -v wire="$wire" -v user="$user" -v sys="$sys" -v peak="$peak" \
        -v run="$3" 'BEGIN {
            wall = ns / 1e9; cpu = user + sys
            printf "    run %d: %.3f s, wire %.3f s, ratio %.4f, CPU %.2f s (%.1f %% of a core), peak %d KiB\n",
                run, wall, wire, wall / wire, cpu, 100 * cpu / wall, peak }'
}

for image in "MiB1 burn_1m.elf" "KiB64 burn_64k.elf"; do
    set -- $image
    printf '%s (%s bytes)\n' "$2" "$(stat -c %s "$work/RT19_bin/$2")"
    for r in 1 2 3; do run "$1" "$2" "$r"; done
done

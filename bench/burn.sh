#!/bin/sh
# Times `zidavuvorud-cli burn --yes` against kvsb-sim on a line paced at 921600 Bd, with erases
# that take no time, for a 1 MiB and a 64 KiB flash image (MPC8270, 0x20000001). Per run:
#   wall    the whole CLI process (start-up, connect, daemon upload, burn, closing the port)
#   wire    the simulator's wire time of every byte it served, both ways: the lower bound
#   ratio   wall / wire
#   lag     how late the simulator let its replies leave against its line model, in all and
#           at most (its own error as an instrument)
#   turn    the program's turnaround, from the read that completed a reply to the write of the
#           next request: median / 99th percentile / maximum over the run's exchanges
#   CPU, peak memory of the CLI (GNU time)
# Every run is checked: the simulated flash must equal the image.
#
# Usage: bench/burn.sh            builds the release preset if needed, then 3 runs per image
#   bench/burn.sh --verify        burns with the read-back: the wire bound holds the READs too
#   RUNS=5 bench/burn.sh          another number of runs
#   PRIO='nice -n -10' bench/burn.sh   runs both processes under a command (as root), to keep
#                                 the other work of a busy machine from delaying them
#   SPIN_INPUT_US=0 bench/burn.sh  the simulator sleeps for the PC's answer instead of watching
#                                 the line for 1000 us after each reply (then its wake-up is
#                                 counted as the program's delay)
set -eu
cd "$(dirname "$0")/.."
runs=${RUNS:-3}
verify=""
[ "${1:-}" = "--verify" ] && verify=--verify
prio=${PRIO:-}
spin_input=${SPIN_INPUT_US:-1000}
scripts/install-deps.sh time
[ -f build/release/CMakeCache.txt ] || cmake --preset release > /dev/null
cmake --build --preset release --target zidavuvorud-cli kvsb-sim compare_dump make_burn_images \
    > /dev/null
bin=build/release
work=$bin/bench/burn
rm -rf "$work"
mkdir -p "$work"
"$bin/bench/make_burn_images" "$work"

echo "machine: $(nproc) cores, $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -n 1)," \
    "$(uname -sr); load average $(cut -d ' ' -f 1-3 /proc/loadavg)${prio:+; under '$prio'};" \
    "simulator spins ${spin_input} us for input${verify:+; burn $verify}"

run() {  # version file run
    rm -rf "$work/dump" "$work/sim.out" "$work/turn.out"
    # shellcheck disable=SC2086
    $prio "$bin/sim/kvsb-sim" --once --baud 921600 --erase-ms 0 --power-on-ms 0 \
        --spin-input-us "$spin_input" --plid 0x20000001 --summary --dump "$work/dump" \
        > "$work/sim.out" 2>&1 &
    sim=$!
    while [ ! -s "$work/sim.out" ]; do sleep 0.02; done
    pty=$(head -n 1 "$work/sim.out")
    start=$(date +%s%N)
    # shellcheck disable=SC2086
    ZQ_TURNAROUND_LOG="$PWD/$work/turn.out" $prio /usr/bin/time -f '%U %S %M' -o "$work/time.out" \
        "$bin/src/cli/zidavuvorud-cli" -C "$work" \
        burn --port "$pty" --unit KRAB101 --sw "$1" --yes $verify > "$work/cli.out"
    end=$(date +%s%N)
    wait "$sim"
    "$bin/tools/compare_dump" "$work/RT19_bin/$2" 0x20000001 "$work/dump/ch1" > /dev/null ||
        { echo "run $3: the simulated flash differs from the image" >&2; exit 1; }
    wire=$(sed -n 's/.*total \([0-9.]*\) s.*/\1/p' "$work/sim.out")
    lag=$(sed -n 's/^pacing lag: \([0-9.]*\) ms in all.*at most \([0-9]*\) us.*/\1 \2/p' \
        "$work/sim.out")
    turn=$(sed -n 's/.*median \([0-9.]*\) us, p99 \([0-9.]*\) us, max \([0-9.]*\) us.*/\1 \2 \3/p' \
        "$work/turn.out")
    read -r user sys peak < "$work/time.out"
    awk -v ns=$((end - start)) -v wire="$wire" -v user="$user" -v sys="$sys" -v peak="$peak" \
        -v run="$3" -v lag="$lag" -v turn="$turn" 'BEGIN {
            wall = ns / 1e9; cpu = user + sys
            split(lag, l, " "); split(turn, t, " ")
            printf "  run %d: wall %.3f s, wire %.3f s, ratio %.4f | sim lag %.1f ms (%.2f %%), max %d us | turn %.0f / %.0f / %.0f us | CPU %.2f s (%.1f %%), peak %d KiB\n",
                run, wall, wire, wall / wire, l[1], l[1] / 10 / wire, l[2], t[1], t[2], t[3],
                cpu, 100 * cpu / wall, peak }'
}

for image in "MiB1 burn_1m.elf" "KiB64 burn_64k.elf"; do
    set -- $image
    printf '%s (%s bytes)\n' "$2" "$(stat -c %s "$work/RT19_bin/$2")"
    r=1
    while [ "$r" -le "$runs" ]; do
        run "$1" "$2" "$r"
        r=$((r + 1))
    done
done

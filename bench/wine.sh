#!/bin/sh
# The Windows build under Wine on kvsb-sim through COM5 (scripts/wine-com.sh):
# - burn: as bench/burn.sh, `zidavuvorud-cli.exe burn --yes` of the 1 MiB image on a line paced
#   at 921600 Bd, three runs: wall time against the simulator's wire time, and the CPU of the
#   program and of the wine server (which serves every wait and poll of the program);
# - idle: the program with the port open, waiting for the operator's Enter, for SECONDS: the
#   CPU of the program (its receive thread polls the port, as Wine reports no EV_RXCHAR on a
#   pseudo-terminal) and of the wine server.
# Usage: bench/wine.sh [SECONDS]   (default 20; builds the release and mingw presets)
set -eu
cd "$(dirname "$0")/.."
seconds="${1:-20}"
cmake --preset release > /dev/null
cmake --build --preset release --target kvsb-sim compare_dump make_burn_images > /dev/null
cmake --preset mingw > /dev/null
cmake --build --preset mingw --target zidavuvorud-cli > /dev/null
ZQ_WINE_BUILD=build/mingw . scripts/wine-env.sh
. scripts/wine-com.sh
bin=build/release
cli="$(pwd)/build/mingw/src/cli/zidavuvorud-cli.exe"
work="$(pwd)/build/mingw/bench/wine"
rm -rf "$work"
mkdir -p "$work"
"$bin/bench/make_burn_images" "$work" > /dev/null

# CPU seconds (user + system) that a process has used so far.
cpu() { awk '{ printf "%.2f", ($14 + $15) / 100 }' "/proc/$1/stat"; }
# Of the processes named, the one of this prefix (other prefixes have their own).
ofPrefix() {
    for p in $1; do
        tr '\0' '\n' < "/proc/$p/environ" | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "$p"
    done | head -n 1
}
server=$(ofPrefix "$(pgrep wineserver)")
[ -n "$server" ] || { echo "no wine server for $WINEPREFIX"; exit 1; }
echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg), $(wine --version 2> /dev/null)"

echo "burn_1m.elf ($(stat -c %s "$work/RT19_bin/burn_1m.elf") bytes), paced at 921600 Bd"
for r in 1 2 3; do
    rm -rf "$work/dump"
    zq_com_serve 5 "$work" "$bin/sim/kvsb-sim" --once --baud 921600 --erase-ms 0 \
        --power-on-ms 0 --spin-input-us 1000 --plid 0x20000001 --summary --dump "$work/dump"
    rm -f "$work/turn.out"
    serverBefore=$(cpu "$server")
    start=$(date +%s%N)
    # The program sees the Unix file system as drive Z:.
    (cd "$work" && ZQ_TURNAROUND_LOG="Z:$work/turn.out" \
        /usr/bin/time -f '%U %S' -o "$work/time.out" wine "$cli" burn --port COM5 \
        --unit KRAB101 --sw MiB1 --yes > "$work/cli.out" 2>&1)
    end=$(date +%s%N)
    serverCpu=$(awk -v a="$serverBefore" -v b="$(cpu "$server")" 'BEGIN { print b - a }')
    zq_com_release
    "$bin/tools/compare_dump" "$work/RT19_bin/burn_1m.elf" 0x20000001 "$work/dump/ch1" \
        > /dev/null || { echo "run $r: the simulated flash differs from the image" >&2; exit 1; }
    wire=$(sed -n 's/.*total \([0-9.]*\) s.*/\1/p' "$work/sim.out")
    lag=$(sed -n 's/^pacing lag: \([0-9.]*\) ms in all.*/\1/p' "$work/sim.out")
    turn=$(sed -n 's/.*median \([0-9.]*\) us, p99 \([0-9.]*\) us, max \([0-9.]*\) us.*/\1 \2 \3/p' \
        "$work/turn.out" 2> /dev/null)
    read -r user sys < "$work/time.out"
    awk -v ns=$((end - start)) -v wire="$wire" -v user="$user" -v sys="$sys" -v lag="$lag" \
        -v turn="${turn:-0 0 0}" -v server="$serverCpu" -v run="$r" 'BEGIN {
        wall = ns / 1e9; cpu = user + sys; split(turn, t, " ")
        printf "    run %d: %.3f s, wire %.3f s, ratio %.4f | sim lag %.1f ms | turn %.0f / %.0f / %.0f us | CLI CPU %.2f s (%.1f %% of a core), wine server %.2f s (%.1f %%)\n",
            run, wall, wire, wall / wire, lag, t[1], t[2], t[3], cpu, 100 * cpu / wall,
            server, 100 * server / wall }'
done

echo "idle with the port open, ${seconds} s"
zq_com_serve 5 "$work" "$bin/sim/kvsb-sim" --once --power-on-ms 0 --plid 0x20000001
mkfifo "$work/enter"
(cd "$work" && wine "$cli" burn --port COM5 --unit KRAB101 --sw MiB1 < "$work/enter" \
    > "$work/idle.out" 2>&1) &
waiting=$!
exec 3> "$work/enter"  # the operator's keyboard, silent until closed
until grep -q Naprogramovat "$work/idle.out" 2> /dev/null; do sleep 0.1; done
program=$(ofPrefix "$(pgrep -f 'zidavuvorud-cli.exe burn')")
sleep 2
programBefore=$(cpu "$program")
serverBefore=$(cpu "$server")
sleep "$seconds"
awk -v p="$(cpu "$program")" -v pb="$programBefore" -v s="$(cpu "$server")" -v sb="$serverBefore" \
    -v t="$seconds" 'BEGIN { printf "    CLI %.2f s CPU (%.2f %% of a core), wine server %.2f s (%.2f %%)\n",
        p - pb, 100 * (p - pb) / t, s - sb, 100 * (s - sb) / t }'
exec 3>&-  # end of input: the program closes the port and ends
wait "$waiting" || true  # "Chyba": the operator never pressed
zq_com_cleanup  # no run was made: --once would wait on

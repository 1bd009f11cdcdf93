#!/bin/sh
# A COM port for Windows programs under Wine, served by kvsb-sim: the simulator's pseudo-terminal
# gets a stable name (--link) and the prefix's COM port is mapped to that name, so a program
# that opens "COM5" talks to the simulator. Source it after scripts/wine-env.sh (WINEPREFIX):
#
#   zq_com_serve N WORK KVSB_SIM [kvsb-sim options] starts kvsb-sim (or another server of a
#                                                   pseudo-terminal that takes --link) with
#                                                   its line as COMn; output in WORK/sim.out
#   zq_com_release                                  waits up to 20 s for the simulator to end
#                                                   (--once ends it when the program lets go
#                                                   of the line), removes both links; returns
#                                                   the simulator's exit status
#
# Whatever ends the script (a failed check, a signal), the simulator is stopped and both links
# are removed: the next test finds COMn unmapped.
zq_com_sim_pid=""
zq_com_links=""

zq_com_cleanup() {
    if [ -n "$zq_com_sim_pid" ]; then
        kill "$zq_com_sim_pid" 2> /dev/null
        wait "$zq_com_sim_pid" 2> /dev/null
        zq_com_sim_pid=""
    fi
    # shellcheck disable=SC2086
    [ -z "$zq_com_links" ] || rm -f $zq_com_links
    zq_com_links=""
}
# The trap replaces wine-env.sh's, so it ends that script's display too.
trap 'zq_com_cleanup; zq_wine_end 2> /dev/null' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Maps COMn of the prefix to TARGET (any path: a pseudo-terminal or a link to one).
zq_com_map() {
    zq_com_links="$zq_com_links $WINEPREFIX/dosdevices/com$1"
    ln -sfn "$2" "$WINEPREFIX/dosdevices/com$1"
}

zq_com_serve() {
    n="$1"
    work="$2"
    shift 2
    link="$work/com$n.pty"
    rm -f "$link" "$work/sim.out"
    zq_com_links="$zq_com_links $link"
    "$@" --link "$link" > "$work/sim.out" 2>&1 &
    zq_com_sim_pid=$!
    tries=0
    until [ -L "$link" ]; do
        tries=$((tries + 1))
        if [ "$tries" -gt 200 ] || ! kill -0 "$zq_com_sim_pid" 2> /dev/null; then
            echo "$1 did not start:"
            cat "$work/sim.out"
            return 1
        fi
        sleep 0.05
    done
    zq_com_map "$n" "$link"
}

zq_com_release() {
    status=0
    tries=0
    while kill -0 "$zq_com_sim_pid" 2> /dev/null && [ "$tries" -lt 400 ]; do
        tries=$((tries + 1))
        sleep 0.05
    done
    if kill -0 "$zq_com_sim_pid" 2> /dev/null; then
        echo "kvsb-sim did not end within 20 s of the program"
        kill "$zq_com_sim_pid"
    fi
    wait "$zq_com_sim_pid" || status=$?
    zq_com_sim_pid=""
    zq_com_cleanup
    return "$status"
}

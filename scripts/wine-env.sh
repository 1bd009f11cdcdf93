#!/bin/sh
# Prepares the Wine prefix of a cross build folder once and keeps a wine server alive so
# every test program starts in a tenth of a second instead of one second.
# Usage: . scripts/wine-env.sh   (or ZQ_WINE_BUILD=build/other . scripts/wine-env.sh)
#        ... Wine programs ...; zq_wine_end   (ends the server and the display it started)
# scripts/wine-com.sh then maps a COM port of the prefix to kvsb-sim.
ZQ_WINE_BUILD="${ZQ_WINE_BUILD:-${1:-build/mingw}}"
WINEPREFIX="$(cd "$ZQ_WINE_BUILD" && pwd)/wineprefix"
WINEDEBUG=-all
# No Mono or Gecko installers: console test programs need neither, and they would wait.
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
# Wine binds a session's desktop to the display of the first program that needs it, console
# programs included: a session begun without a display has no window driver for the rest of
# its life (CreateDialog fails with no error set). So the session gets a display before
# anything runs: the one in DISPLAY, or a private Xvfb kept until `zq_wine_end` or the shell's
# end, with the server of an earlier, perhaps headless, session of this prefix ended first.
ZQ_WINE_XVFB=""
if [ -z "${DISPLAY:-}" ] && command -v Xvfb > /dev/null 2>&1; then
    zq_n=$(( 100 + $$ % 800 ))
    while [ -e "/tmp/.X$zq_n-lock" ]; do zq_n=$((zq_n + 1)); done
    Xvfb ":$zq_n" -screen 0 1024x768x24 -nolisten tcp > /dev/null 2>&1 &
    ZQ_WINE_XVFB=$!
    zq_i=0
    while [ ! -e "/tmp/.X11-unix/X$zq_n" ] && [ $zq_i -lt 50 ]; do
        sleep 0.1
        zq_i=$((zq_i + 1))
    done
    DISPLAY=":$zq_n"
    export DISPLAY
    wineserver -k 2> /dev/null || true
fi
zq_wine_end() {
    [ -n "$ZQ_WINE_XVFB" ] || return 0
    wineserver -k 2> /dev/null || true
    kill "$ZQ_WINE_XVFB" 2> /dev/null || true
    ZQ_WINE_XVFB=""
}
[ -z "$ZQ_WINE_XVFB" ] || trap zq_wine_end EXIT
if [ ! -f "$WINEPREFIX/.zq-ready" ]; then
    echo "Creating the Wine prefix $WINEPREFIX"
    wine wineboot -i > "$ZQ_WINE_BUILD/wineboot.log" 2>&1 || true
    # The registry reaches the disk only when the server ends.
    wineserver -w || true
    touch "$WINEPREFIX/.zq-ready"
fi
wineserver -p 600 2>/dev/null || true
# The first program of a server session starts Wine's services (winedevice.exe), which inherit
# its standard output. Started here with output to a file, they cannot hold a test's pipe open
# and make ctest wait for them.
wine cmd /c exit > "$ZQ_WINE_BUILD/wine-warmup.log" 2>&1 || true

#!/bin/sh
# Prepares the Wine prefix of a cross build folder once and keeps a wine server alive so
# every test program starts in a tenth of a second instead of one second.
# Usage: . scripts/wine-env.sh   (or ZQ_WINE_BUILD=build/other . scripts/wine-env.sh)
# scripts/wine-com.sh then maps a COM port of the prefix to kvsb-sim.
ZQ_WINE_BUILD="${ZQ_WINE_BUILD:-${1:-build/mingw}}"
WINEPREFIX="$(cd "$ZQ_WINE_BUILD" && pwd)/wineprefix"
WINEDEBUG=-all
# No Mono or Gecko installers: console test programs need neither, and they would wait.
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
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

#!/bin/sh
# The Windows serial port on a COM port of the Wine prefix whose far end echoes (echo_peer.py):
# comport_echo_tests.exe with ZQ_TEST_COM_PORT=COM5.
# Usage: comport_echo.sh WINEPREFIX TEST_EXE WORK      (exit 77: skipped)
set -u
command -v python3 > /dev/null 2>&1 || { echo "python3 is missing: skipped"; exit 77; }
export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -d "$WINEPREFIX/dosdevices" ] || { echo "no Wine prefix at $WINEPREFIX: skipped"; exit 77; }
. "$(dirname "$0")/../../scripts/wine-com.sh"
mkdir -p "$3"
zq_com_serve 5 "$3" python3 "$(dirname "$0")/echo_peer.py" || exit 1
# Never a pipe from Wine: its background processes would hold it open.
ZQ_TEST_COM_PORT=COM5 timeout 200 wine "$2" > "$3/test.log" 2>&1
status=$?
cat "$3/test.log"
exit "$status"

#!/bin/sh
# The Windows port against a real COM port under Wine: COM5 is mapped to a pseudo-terminal
# whose master echoes (pty_echo_peer.py), and the echo test of os_comport_tests.exe runs on it.
# Usage: wine_com_echo.sh WINEPREFIX TEST_EXE WORK_DIR      (exit 77: skipped)
set -u
command -v python3 > /dev/null 2>&1 || { echo "python3 is missing: skipped"; exit 77; }
prefix="$1"
exe="$2"
work="$3"
here="$(cd "$(dirname "$0")" && pwd)"
[ -d "$prefix/dosdevices" ] || { echo "no Wine prefix at $prefix: skipped"; exit 77; }
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
link="$prefix/dosdevices/com5"
peerLog="$work/com-echo-peer.log"
testLog="$work/com-echo-test.log"

python3 "$here/pty_echo_peer.py" "$link" 120 > "$peerLog" 2>&1 &
peer=$!
tries=0
until grep -q ready "$peerLog" 2> /dev/null; do
    tries=$((tries + 1))
    [ "$tries" -le 100 ] || { echo "the echo peer did not start"; kill "$peer"; exit 1; }
    sleep 0.1
done

# Never a pipe from Wine: its background processes would hold it open.
ZQ_TEST_COM_PORT=COM5 timeout 120 wine "$exe" --gtest_filter='*EchoThroughARealPort' \
    > "$testLog" 2>&1
status=$?
kill "$peer" 2> /dev/null
wait "$peer" 2> /dev/null
rm -f "$link"
cat "$testLog"
if grep -q SKIPPED "$testLog"; then status=1; fi
exit "$status"

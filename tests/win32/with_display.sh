#!/bin/sh
# Runs a command with an X display for Wine's windows: the one set in DISPLAY, or a private
# Xvfb that ends with the command.
# Usage: with_display.sh COMMAND [ARG...]
if [ -n "${DISPLAY:-}" ]; then
    exec "$@"
fi
# A display number of this process's own, so that parallel tests do not meet.
n=$(( 100 + $$ % 800 ))
while [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp > /dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; exit 1' INT TERM
i=0
while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
DISPLAY=":$n" "$@"
rc=$?
kill $xvfb 2>/dev/null
exit $rc

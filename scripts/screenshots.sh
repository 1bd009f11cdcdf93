#!/bin/sh
# Takes the README's pictures of the Linux window on Qt's offscreen platform: the window test
# clicks a KREF10x burn against kvsb-sim and grabs the window at rest, during the burn and with
# "Hotovo". Writes docs/qt-window-{rest,burning,done}.png.
set -eu
cd "$(dirname "$0")/.."
[ -d build/dev ] || cmake --preset dev > /dev/null
cmake --build --preset dev --target qt_window_tests
QT_QPA_PLATFORM=offscreen ZQ_SCREENSHOT_DIR="$(pwd)/docs" \
    build/dev/tests/qt/qt_window_tests burnsAUnitByClicking:KREF10x
ls -l docs/qt-window-*.png

#!/bin/sh
# Takes the README's pictures of the Windows window under Wine and Xvfb: at rest, during a
# burn, and with "Hotovo", against kvsb-sim on COM5.
# Usage: scripts/window-screenshots.sh [MINGW_BUILD [NATIVE_BUILD]]
#   (defaults build/mingw and build/dev; needs zidavuvorud.exe, window_driver.exe, kvsb-sim)
set -eu
cd "$(dirname "$0")/.."
src=$(pwd)
build=$(cd "${1:-build/mingw}" && pwd)
native=$(cd "${2:-build/dev}" && pwd)
out="$src/docs"
size=600x440

scripts/install-deps.sh imagemagick
# A prefix of its own whose programs all share one virtual desktop: Wine draws the window's
# frame there, and the driver finds the window on the same desktop. The tests' prefix keeps
# Wine's plain windows.
WINEPREFIX="$build/wineprefix-shots"
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
. scripts/wine-com.sh

work=$(mktemp -d)
n=$(( 100 + $$ % 800 ))
while [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp > /dev/null 2>&1 &
xvfb=$!
app=""
finish() {
    [ -z "$app" ] || kill "$app" 2> /dev/null || true
    kill "$xvfb" 2> /dev/null || true
    zq_com_cleanup
    rm -rf "$work"
}
trap finish EXIT
export DISPLAY=":$n"
sleep 1
if [ ! -f "$WINEPREFIX/.zq-shots" ]; then
    wine wineboot -i > "$work/wineboot.log" 2>&1 || true
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f > /dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$size" /f > /dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.zq-shots"
fi

drive() { wine "$build/tests/win32/window_driver.exe" "$@" > "$work/driver.log" 2>&1 || {
    cat "$work/driver.log"; exit 1; }; }
shot() {
    sleep 0.5
    # The window sits in the corner of the virtual desktop; -trim cuts the empty desktop away.
    import -window root -trim +repage "$out/$1"
    echo "docs/$1"
}

mkdir -p "$work/app"
cp "$build/src/win32/zidavuvorud.exe" "$work/app/"
cp -r examples/RT19_bin "$work/app/"
# A slow erase keeps the progress bar on screen long enough for the picture.
zq_com_serve 5 "$work" "$native/sim/kvsb-sim" --once --power-on-ms 200 --erase-ms 6000 \
    --plid 0x20000001
(cd "$work/app" && wine zidavuvorud.exe > "$work/app.log" 2>&1) &
app=$!

drive window select 200 COM5 click 201 select 204 KREF10x
shot window-rest.png
drive click 205 busy
sleep 2
shot window-burning.png
drive boxopen
shot window-done.png
drive box Hotovo close gone

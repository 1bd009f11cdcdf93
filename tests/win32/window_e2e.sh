#!/bin/sh
# zidavuvorud.exe under Wine, driven from outside by window_driver.exe as an operator would,
# against kvsb-sim on COM5: start-up failures, burns of three unit types with the simulated
# flash compared to the images, a failed run and the next one, closing during a burn, and the
# port selection across a restart.
# Usage: window_e2e.sh BUILD SOURCE KVSB_SIM COMPARE_DUMP   (BUILD: the mingw build folder)
# Needs a display (with_display.sh).
set -u
if [ ! -x "$3" ] || [ ! -x "$4" ]; then
    echo "kvsb-sim or compare_dump of a Linux build is missing ($3, $4): skipped"
    exit 77
fi
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
sim=$3
compare=$4
exe="$build/src/win32/zidavuvorud.exe"
driver="$build/tests/win32/window_driver.exe"

ZQ_WINE_BUILD=$build . "$src/scripts/wine-env.sh"
. "$src/scripts/wine-com.sh"

work=$(mktemp -d)
app_pid=""
failures=0
server_pid=""
trap '[ -z "$app_pid" ] || kill "$app_pid" 2> /dev/null; [ -z "$server_pid" ] || kill "$server_pid"
      zq_com_cleanup; rm -rf "$work"' EXIT

# printf, not echo: a Windows path's backslashes are no escapes.
check() {
    if [ "$1" -ne 0 ]; then
        printf 'FAILED: %s\n' "$2"
        failures=$((failures + 1))
    else
        printf 'ok: %s\n' "$2"
    fi
}

# The program in a folder of its own with what RT19_bin holds there (copied from $1, if any),
# started in folder $2 (by default its own, as "Start in" of a shortcut would have it).
start_app() {
    rm -rf "$work/app" && mkdir -p "$work/app"
    cp "$exe" "$work/app/"
    [ -z "${1:-}" ] || cp -r "$1" "$work/app/RT19_bin"
    [ -z "${app_ini:-}" ] || printf '%s\n' "$app_ini" > "$work/app/zidavuvorud.ini"
    rm -f "$work/app.rc"
    (cd "${2:-$work/app}" && wine "$work/app/zidavuvorud.exe" > "$work/app.log" 2>&1
     echo $? > "$work/app.rc") &
    app_pid=$!
}

# The program's exit status, waiting at most 30 s for it to end.
app_status() {
    tries=0
    while [ ! -s "$work/app.rc" ] && [ $tries -lt 300 ]; do sleep 0.1; tries=$((tries + 1)); done
    app_pid=""
    cat "$work/app.rc" 2> /dev/null || echo "still running"
}

# A text for the driver in a file of its own (see window_driver.cpp).
txt() {
    f=$(mktemp "$work/text.XXXXXX")
    printf '%s' "$1" > "$f"
    echo "@$f"
}

drive() {
    wine "$driver" "$@" > "$work/driver.log" 2>&1
    status=$?
    cat "$work/driver.log"
    return $status
}

# Start-up failures: one box with the reason, no window, a non-zero exit.
startup_failure() {
    start_app "$1" "${3:-}"
    drive nowindow box "$(txt "$2")"
    s=$?
    [ "$(app_status)" != 0 ] || s=1
    check $s "start-up: $2"
}
mkdir -p "$work/empty" "$work/refused" "$work/elsewhere"
printf '#!KRVFlashRT19\ndefaultsw=X\n' > "$work/refused/config.ini"
# Started elsewhere (a shortcut without "Start in"), without RT19_bin beside the program either:
# the box names both places, as Windows spells them.
winepath -w "$work/elsewhere/RT19_bin" "$work/app/RT19_bin" > "$work/places" 2>&1
here=$(sed -n 1p "$work/places" | tr -d '\r')
beside=$(sed -n 2p "$work/places" | tr -d '\r')
startup_failure "" "Nenalezen adresář $here ani $beside" "$work/elsewhere"
startup_failure "$work/empty" "Nepodařilo se otevřít soubor config.ini"
startup_failure "$work/refused" 'Chybný formát souboru config.ini: Nenalezena verze sw "X"'

examples="$src/examples/RT19_bin"
same() {  # module folder, image file, platform id
    "$compare" "$examples/$2" "$3" "$work/dump/$1" > "$work/compare.log" 2>&1 || {
        cat "$work/compare.log"
        return 1
    }
}
sim_for() {
    rm -rf "$work/dump"
    zq_com_serve 5 "$work" "$sim" --once --power-on-ms 200 --erase-ms 200 --dump "$work/dump" "$@"
}

# Started elsewhere, it finds RT19_bin beside itself and burns from there.
start_app "$examples" "$work/elsewhere"
drive window text 215 "Zidavuvorud QS 1.02, verze dat 3.1" select 200 COM5
check $? "started elsewhere, the window finds RT19_bin beside it and shows its status text"

# KRAB101: the first erase is refused, "Chyba" with the engine's reason, then a good run on
# the same open port.
sim_for --fault status,on=erase,n=1
drive select 204 KRAB101 click 201 prompt "$(txt "Připojte KVSB")" click 205 \
    boxinfo "Error while" box Chyba text 207 "" \
    click 205 progress box Hotovo click 202 text 208 ""
s=$?
zq_com_release || s=1
same ch1 krab101_31.omf 0x10000001 || s=1
check $s "KRAB101: Chyba, then burnt without reopening the port"

sim_for --plid 0x20000001
drive select 204 KREF10x click 201 click 205 progress box Hotovo click 202
s=$?
zq_com_release || s=1
same ch0 kref10x_a_31.elf 0x20000001 || s=1
same ch1 kref10x_b_31.elf 0x20000001 || s=1
check $s "KREF10x: both processors burnt"

sim_for --plid 0x10000100 --second-module --plid-second 0x10000100
drive select 204 KRCD101 click 201 click 205 prompt "$(txt "Vysuňte pravý modul")" click 205 \
    progress box Hotovo click 202
s=$?
zq_com_release || s=1
same ch1 krcd101_l_31.omf 0x10000100 || s=1
same ch1-second krcd101_r_31.omf 0x10000100 || s=1
check $s "KRCD101: left, pause, right"

# Each run is in the journal of the prefix's %LOCALAPPDATA%, in the order they ended.
appdata=$(wine cmd /c echo %LOCALAPPDATA% | tr -d '\r')
journal="$(winepath -u "$appdata")/Trevik/RedivuvizerER/journal.jsonl"
runs=$(tail -n 4 "$journal" | sed -n 's/.*"front_end":"window",.*"unit":"\([^"]*\)".*"result":"\([a-z]*\)".*/\1 \2/p' |
    tr '\n' ' ')
[ "$runs" = "KRAB101 error KRAB101 done KREF10x done KRCD101 done " ]
check $? "the journal holds the four runs: $runs"

# Closing during a burn: a long erase keeps the run busy while the window closes.
rm -rf "$work/dump"
zq_com_serve 5 "$work" "$sim" --once --power-on-ms 200 --erase-ms 20000
drive select 204 KRAB101 click 201 click 205 busy close gone
s=$?
[ "$(app_status)" = 0 ] || s=1
zq_com_release || s=1
check $s "closing during a burn ends the program cleanly"

# The port selection is kept across a restart (the registry): COM5 from the close above, then
# COM7, which the next run of this test finds stored before it chooses COM5 again.
start_app "$examples"
drive window selected 200 COM5 select 200 COM7 close gone
s=$?
[ "$(app_status)" = 0 ] || s=1
start_app "$examples"
drive window selected 200 COM7 || s=1
check $s "the port selection survives a restart"

# A close request that arrives while "Hotovo" is open (the box's own message loop delivers
# it): the window closes once, no second box holds the program, it ends cleanly.
sim_for
drive select 200 COM5 click 201 select 204 KRAB101 click 205 boxopen close gone
s=$?
[ "$(app_status)" = 0 ] || s=1
zq_com_release || s=1
check $s "closing while a message box is open ends the program"

# A version server that never answers holds the start for the check's bound, no longer; the
# window then ends at once and cleanly, no thread of the check left behind to race its end.
python3 "$src/tests/common/version_server.py" silent > "$work/server.port" &
server_pid=$!
tries=0
while [ ! -s "$work/server.port" ] && [ $tries -lt 100 ]; do sleep 0.1; tries=$((tries + 1)); done
app_ini=$(printf '[update]\nserver = 127.0.0.1:%s' "$(cat "$work/server.port")")
# Due whatever an earlier test of this prefix stored.
wine reg delete 'HKCU\Software\Trevik\RedivuvizerER' /v lastUpdateTime /f > /dev/null 2>&1
start_app "$examples"
app_ini=""
drive window close gone
s=$?
[ "$(app_status)" = 0 ] || s=1
kill "$server_pid" && server_pid=""
check $s "an update check without an answer: the window starts, then ends cleanly"

# The keyboard alone: Tab and Shift+Tab walk the enabled controls in the dialog's order, Enter
# and Space press the focused button (the focus moving on from a button that the press
# disables), the arrows choose the unit as the mouse does, Enter and Esc on a combo box do
# nothing and hide nothing, and Alt+F4 during the burn ends it the close box's way. The wait
# cursor shows while the burn is prepared, which the slow channel answers stretch to seconds.
rm -rf "$work/dump"
zq_com_serve 5 "$work" "$sim" --once --plid 0x20000001 --power-on-ms 200 --erase-ms 200 \
    --fault pieces,on=channel,size=4,pause-ms=100,every=1 --fault lost-reply,on=channel,n=4
start_app "$examples"
drive window select 200 COM5 select 204 KRAB101 focus 200 \
    keys tab ";" focus 201 keys tab ";" focus 200 keys shift+tab ";" focus 201 \
    keys enter ";" focus 202 prompt "$(txt "Připojte KVSB k KRV konektoru KRAB101")" \
    keys tab tab down ";" selected 204 KRCD101 \
    prompt "$(txt "Připojte KVSB k KRV konektoru levého KRCD101")" \
    keys down enter esc shift+tab ";" focus 203 selected 204 KREF10x shown \
    prompt "$(txt "Připojte KVSB k KRV konektoru KREF10x")" \
    keys shift+tab shift+tab ";" focus 205 keys space ";" waitcursor \
    keys alt+f4 ";" gone
s=$?
[ "$(app_status)" = 0 ] || s=1
zq_com_release || s=1
check $s "the keyboard: focus order, Enter, Space, arrows, Esc, wait cursor, Alt+F4"

[ $failures -eq 0 ] || { echo "$failures failed"; exit 1; }

#!/bin/sh
# zidavuvorud-cli.exe under Wine on COM5, which scripts/wine-com.sh maps to kvsb-sim.
# Usage: cli_wine.sh CASE WINEPREFIX CLI_EXE KVSB_SIM COMPARE_DUMP EXAMPLES WORK [CPACK BUILD]
#   KRAB101, KRCD101, KRGH101, KRIJ11x: the unit is burnt, each module's dump equals its image
#       (KREF10x: in the package case)
#   verify: burn --verify passes on a sound module and fails on a weak cell; check names the
#       version a module holds
#   retries: every WRITE of the daemon refused: exit 1 with the engine's text
#   unmapped: a COM port that the prefix does not map: exit 1 with the open error and code 2
#   journal: a done and a failed burn leave two chained records in the prefix's
#       %LOCALAPPDATA%\Trevik\RedivuvizerER\journal.jsonl
#   ports: an FTDI adapter on COM5 as its driver enters it in the registry, latency timer 16 ms:
#       `ports` shows it, and a burn through it warns and is done
#   package: the ZIP that CPACK makes of BUILD, checked against the SHA256SUMS beside it and
#       unpacked into an empty folder: `versions` and a burn of KREF10x run from there, with
#       its own RT19_bin
# Exit 77: skipped (the Linux tools or the Wine prefix are missing).
set -u
case="$1"
export WINEPREFIX="$2" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cli="$3"
sim="$4"
compare="$5"
dir="$6"
work="$7"
for tool in "$sim" "$compare"; do
    [ -x "$tool" ] || {
        echo "$tool is missing: build kvsb-sim and compare_dump in the dev preset, or name them" \
            "with -DZQ_KVSB_SIM=... -DZQ_COMPARE_DUMP=... (scripts/test.sh does): skipped"
        exit 77
    }
done
[ -d "$WINEPREFIX/dosdevices" ] || { echo "no Wine prefix: . scripts/wine-env.sh first: skipped"; exit 77; }
. "$(dirname "$0")/../../scripts/wine-com.sh"
rm -rf "$work"
mkdir -p "$work"

fail() {
    echo "FAILED: $*"
    echo "--- zidavuvorud-cli.exe"
    cat "$work/cli.out"
    echo "--- kvsb-sim"
    cat "$work/sim.out" 2> /dev/null
    exit 1
}

# cli ARGS: the program from the folder that holds RT19_bin; its output without the CRs.
cli() {
    (cd "$dir" && timeout 120 wine "$cli" "$@" > "$work/cli.raw" 2>&1)
    code=$?
    tr -d '\r' < "$work/cli.raw" > "$work/cli.out"
    last=$(tail -n 1 "$work/cli.out")
}

# burn UNIT [kvsb-sim options]
burn() {
    unit="$1"
    shift
    zq_com_serve 5 "$work" "$sim" --once --power-on-ms 0 --erase-ms 20 --erase-steps 4 \
        --dump "$work/dump" "$@" || exit 1
    # shellcheck disable=SC2086
    cli burn --port COM5 --unit "$unit" --yes ${burn_options:-}
    zq_com_release || fail "kvsb-sim ended with an error"
}

# burnt UNIT PLID [kvsb-sim options] -- FOLDER IMAGE ...
burnt() {
    unit="$1"
    plid="$2"
    shift 2
    options=""
    while [ "$1" != "--" ]; do
        options="$options $1"
        shift
    done
    shift
    # shellcheck disable=SC2086
    burn "$unit" $options
    [ "$code" -eq 0 ] && [ "$last" = "Hotovo" ] || fail "exit $code, last line '$last'"
    while [ $# -gt 0 ]; do
        "$compare" "$dir/RT19_bin/$2" "$plid" "$work/dump/$1" > "$work/compare.out" 2>&1 ||
            { cat "$work/compare.out"; fail "the dump of $1 differs from $2"; }
        shift 2
    done
    echo "$unit burnt through COM5, the simulated memory equals the images"
}

case "$case" in
KRAB101) burnt KRAB101 0x10000001 -- ch1 krab101_31.omf ;;
KRIJ11x) burnt KRIJ11x 0x20000003 --plid 0x20000003 -- ch1 krij11x_31.elf ;;
KRGH101)
    burnt KRGH101 0x30000001 --plid 0x30000001 -- ch0 krgh101_a_31.elf ch1 krgh101_b_31.elf ;;
KRCD101)
    burnt KRCD101 0x10000100 --plid 0x10000100 --second-module --plid-second 0x10000100 -- \
        ch1 krcd101_l_31.omf ch1-second krcd101_r_31.omf ;;
verify)
    # The read-back passes on a sound module and finds the cell that took a WRITE wrongly.
    burn_options=--verify
    burnt KRAB101 0x10000001 -- ch1 krab101_31.omf
    burn KRAB101 --fault weak-cell,level=2,n=3
    case "$code $last" in "1 Chyba: Verify failed at 0x"*) ;; *) fail "exit $code, last line '$last'" ;; esac
    # A check names the version the module holds, and changes nothing: one simulator serves the
    # burn and both checks.
    zq_com_serve 5 "$work" "$sim" --power-on-ms 0 --erase-ms 20 --erase-steps 4 || exit 1
    for step in "burn --sw SW30:0 Hotovo" "check --any:0 Held: SW30 (Verze 3.0)" \
        "check --sw SW31:1 Held: none"; do
        # shellcheck disable=SC2086
        cli ${step%%:*} --port COM5 --unit KRAB101 --yes
        [ "$code $last" = "${step#*:}" ] || fail "${step%%:*}: exit $code, last line '$last'"
    done
    kill "$zq_com_sim_pid"
    zq_com_release || fail "kvsb-sim ended with an error"
    echo "check through COM5: SW30 held after its burn, SW31 not" ;;
retries)
    burn KRAB101 --fault nak,on=write,level=2,every=1
    expected="Chyba: Communication error (no reply) while writing 496 bytes to 0x00010000"
    [ "$code" -eq 1 ] && [ "$last" = "$expected" ] || fail "exit $code, last line '$last'" ;;
unmapped)
    rm -f "$WINEPREFIX/dosdevices/com6"
    cli burn --port COM6 --unit KRAB101 --yes
    [ "$code" -eq 1 ] && grep -qF "Chyba při otevírání sériového portu:  2 - " "$work/cli.out" ||
        fail "exit $code, no open error with the system's code 2" ;;
journal)
    appdata=$(wine cmd /c echo %LOCALAPPDATA% | tr -d '\r')
    journal="$(winepath -u "$appdata")/Trevik/RedivuvizerER/journal.jsonl"
    rm -f "$journal"
    burnt KRAB101 0x10000001 -- ch1 krab101_31.omf
    burn KRAB101 --fault status,on=write,level=2,n=1,value=3
    [ "$code" -eq 1 ] || fail "the failed burn: exit $code"
    [ "$(wc -l < "$journal")" -eq 2 ] || fail "$journal does not hold two records"
    grep -q '"result":"error","error":"Error while writing' "$journal" || fail "no failed run"
    cli journal --check
    [ "$code $(head -n 1 "$work/cli.out")" = "0 2 records, chain intact" ] ||
        fail "journal --check: exit $code"
    echo "two records chained in $journal" ;;
ports)
    # The keys the FTDI driver writes for its port, written here: the program finds them through
    # SetupAPI or, where Wine's lists nothing, in the registry's device tree.
    enum='HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS'
    key="$enum"'\VID_0403+PID_6001+A50285BIA\0000'
    unregister() { wine reg delete "$enum" /f > "$work/reg.out" 2>&1; }
    register() { wine reg add "$@" /f > "$work/reg.out" 2>&1 || { cat "$work/reg.out"; fail "reg add $*"; }; }
    unregister
    # Whatever ends the script, the next test finds no adapter on COM5.
    trap 'unregister; zq_com_cleanup; zq_wine_end 2> /dev/null' EXIT
    register "$key" /v HardwareID /t REG_MULTI_SZ /d 'FTDIBUS\COMPORT&VID_0403&PID_6001'
    register "$key" /v FriendlyName /d 'USB Serial Port (COM5)'
    register "$key" /v Mfg /d FTDI
    register "$key" /v Service /d FTSER2K
    register "$key" /v ClassGUID /d '{4D36E978-E325-11CE-BFC1-08002BE10318}'
    register "$key"'\Device Parameters' /v PortName /d COM5
    register "$key"'\Device Parameters' /v LatencyTimer /t REG_DWORD /d 16
    burnt KRAB101 0x10000001 -- ch1 krab101_31.omf
    grep -qxF "zidavuvorud-cli: warning: the adapter on COM5 has a latency timer of 16 ms: a burn takes about 46 s per MiB instead of 12.4 s." "$work/cli.out" ||
        fail "no warning of the adapter's latency"
    zq_com_serve 5 "$work" "$sim" || exit 1
    cli ports
    grep -qxF "COM5  USB Serial Port (COM5)" "$work/cli.out" &&
        grep -qxF "    USB 0x0403:0x6001  FTDI  serial A50285BI  driver FTSER2K  latency timer 16 ms" "$work/cli.out" ||
        fail "ports: exit $code, COM5's adapter not shown"
    cli ports --json
    grep -qF '{"name":"COM5","description":"USB Serial Port (COM5)","vendorId":"0x0403","productId":"0x6001","manufacturer":"FTDI","serialNumber":"A50285BI","driver":"FTSER2K","latencyMs":16}' "$work/cli.out" ||
        fail "ports --json: exit $code, COM5's adapter not shown"
    kill "$zq_com_sim_pid"
    zq_com_release
    # Without its class SetupAPI lists the device no more; the lookup by the port's name finds
    # it in the registry's device tree all the same.
    wine reg delete "$key" /v ClassGUID /f > "$work/reg.out" 2>&1 || fail "reg delete ClassGUID"
    burnt KRAB101 0x10000001 -- ch1 krab101_31.omf
    grep -qF "the adapter on COM5 has a latency timer of 16 ms" "$work/cli.out" ||
        fail "no warning of the adapter's latency from the device tree"
    echo "ports shows COM5's FTDI adapter from the registry, and its burns warn of 16 ms" ;;
package)
    "$8" -G ZIP --config "$9/CPackConfig.cmake" -B "$work/zip" > "$work/cpack.out" 2>&1 ||
        { cat "$work/cpack.out"; fail "cpack failed"; }
    (cd "$work/zip" && sha256sum -c SHA256SUMS) || fail "SHA256SUMS does not match the ZIP"
    mkdir "$work/empty"
    (cd "$work/empty" && cmake -E tar xf "$work/zip/Zidavuvorud-QS-1.02-win64.zip") ||
        fail "cannot unpack Zidavuvorud-QS-1.02-win64.zip"
    dir="$work/empty/Zidavuvorud-QS-1.02-win64"
    cli="$dir/zidavuvorud-cli.exe"
    ls -R "$work/empty"
    cli versions
    [ "$code" -eq 0 ] && grep -q "SW31" "$work/cli.out" || fail "versions: exit $code"
    burnt KREF10x 0x20000001 --plid 0x20000001 -- ch0 kref10x_a_31.elf ch1 kref10x_b_31.elf ;;
*) fail "unknown case $case" ;;
esac

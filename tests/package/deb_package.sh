#!/bin/sh
# The Debian package as it leaves the build, unpacked without installing it: its checksum, its
# CLI burning a KREF10x on its own kvsb-sim (each module's dump equal to its image), its desktop
# entry, and lintian's verdict.
# Usage: deb_package.sh DEB COMPARE_DUMP EXAMPLES WORK
set -u
deb=$(realpath "$1")
compare="$2"
examples="$3"
sim_pid=""
trap '[ -z "$sim_pid" ] || kill "$sim_pid" 2> /dev/null' EXIT
rm -rf "$4"
mkdir -p "$4"
# The CLI runs in EXAMPLES (-C): the port's path must not be relative to here.
work=$(realpath "$4")
root="$work/root"

fail() {
    echo "FAILED: $*"
    for f in "$work"/*.out; do echo "--- $f"; cat "$f"; done
    exit 1
}

(cd "$(dirname "$deb")" && sha256sum -c SHA256SUMS) || fail "SHA256SUMS does not match"
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x"
bin="$root/usr/bin"

"$bin/zidavuvorud-cli" --version > "$work/version.out" 2>&1 || fail "--version: exit $?"
grep -qx "[^ ]* *1\.02" "$work/version.out" || fail "--version names no 1.02"

link="$work/pty"
"$bin/kvsb-sim" --once --power-on-ms 0 --erase-ms 20 --erase-steps 4 --plid 0x20000001 \
    --dump "$work/dump" --link "$link" > "$work/sim.out" 2>&1 &
sim_pid=$!
tries=0
until [ -L "$link" ]; do
    tries=$((tries + 1))
    [ "$tries" -le 200 ] && kill -0 "$sim_pid" 2> /dev/null || fail "kvsb-sim did not start"
    sleep 0.05
done
timeout 120 "$bin/zidavuvorud-cli" -C "$examples" burn --port "$link" --unit KREF10x --yes \
    > "$work/cli.out" 2>&1 < /dev/null
code=$?
last=$(tail -n 1 "$work/cli.out")
[ "$code" -eq 0 ] && [ "$last" = "Hotovo" ] || fail "burn: exit $code, last line '$last'"
wait "$sim_pid" || fail "kvsb-sim ended with an error"
sim_pid=""
for module in ch0=kref10x_a_31.elf ch1=kref10x_b_31.elf; do
    "$compare" "$examples/RT19_bin/${module#*=}" 0x20000001 "$work/dump/${module%%=*}" \
        > "$work/compare.out" 2>&1 || fail "the dump of ${module%%=*} differs from its image"
done
echo "The packaged zidavuvorud-cli burnt KREF10x on the packaged kvsb-sim"

desktop-file-validate "$root/usr/share/applications/zidavuvorud.desktop" > "$work/desktop.out" 2>&1 ||
    fail "desktop-file-validate"
# Exec names a program that the package itself must bring.
exec_line=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$root/usr/share/applications/zidavuvorud.desktop")
[ -x "$bin/$exec_line" ] || fail "the desktop entry starts '$exec_line', which the package lacks"
icon=$(sed -n 's/^Icon=//p' "$root/usr/share/applications/zidavuvorud.desktop")
[ -f "$root/usr/share/icons/hicolor/48x48/apps/$icon.png" ] || fail "no 48x48 icon '$icon'"

lintian --fail-on error --display-info "$deb" > "$work/lintian.out" 2>&1 || fail "lintian"
cat "$work/lintian.out"
echo "lintian reports no error"

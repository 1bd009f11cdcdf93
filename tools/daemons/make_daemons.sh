#!/bin/sh
# Makes the four reference L2 daemons that the program carries built in (src/engine/daemons):
# the PowerPC ones with GNU binutils for PowerPC, the XC167 ones with the project's OMF-166
# writer (tools/omf_writer.cpp, through make_xc167_daemons).
#   tools/daemons/make_daemons.sh [--check] [--generator PATH/make_xc167_daemons]
# Without --generator the generator is built with the dev preset. --check writes into a
# temporary folder and compares with the committed files instead (exit 1 when they differ).
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
here=$root/tools/daemons
dest=$root/src/engine/daemons
check=0
generator=
while [ $# -gt 0 ]; do
    case $1 in
        --check) check=1 ;;
        --generator) generator=$2; shift ;;
        *) echo "usage: $0 [--check] [--generator PATH]" >&2; exit 2 ;;
    esac
    shift
done
if [ -z "$generator" ]; then
    (cd "$root" && cmake --preset dev > /dev/null &&
        cmake --build --preset dev --target make_xc167_daemons > /dev/null)
    generator=$root/build/dev/tools/make_xc167_daemons
fi

out=$dest
if [ "$check" -eq 1 ]; then
    out=$(mktemp -d)
    trap 'rm -rf "$out"' EXIT
fi
mkdir -p "$out"
for board in mpc8270 mpc5554; do
    "$root/tools/ppc_elf.sh" "$here/${board}_daemon.S" "$here/${board}_daemon.ld" \
        "$out/$board.elf"
done
"$generator" "$out"

if [ "$check" -eq 1 ]; then
    status=0
    for f in xc167_carrier.omf xc167_module.omf mpc8270.elf mpc5554.elf; do
        if ! cmp -s "$out/$f" "$dest/$f"; then
            echo "src/engine/daemons/$f differs from what $0 makes" >&2
            status=1
        fi
    done
    exit $status
fi
echo "Reference daemons written to $out"

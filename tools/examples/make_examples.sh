#!/bin/sh
# Makes the images of the example RT19_bin (examples/RT19_bin), two software versions of every
# unit type: the XC167 ones with the project's OMF-166 writer (make_example_omf), the PowerPC
# ones with GNU binutils for PowerPC through tools/ppc_elf.sh, as the reference daemons are made.
#   tools/examples/make_examples.sh [--check] [--generator PATH/make_example_omf]
# Without --generator the generator is built with the dev preset. --check writes into a
# temporary folder and compares with the committed files instead (exit 1 when they differ).
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
here=$root/tools/examples
dest=$root/examples/RT19_bin
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
        cmake --build --preset dev --target make_example_omf > /dev/null)
    generator=$root/build/dev/tools/make_example_omf
fi

out=$dest
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if [ "$check" -eq 1 ]; then
    out=$tmp/out
fi
mkdir -p "$out"

# One PowerPC image: the sample application with its banner, linked for a board.
ppc() { # file banner linker-script
    sed "s|@BANNER@|$2|g" "$here/ppc_app.S" > "$tmp/app.S"
    "$root/tools/ppc_elf.sh" "$tmp/app.S" "$here/$3.ld" "$out/$1"
}

for version in 3.1 3.0; do
    v=$(echo "$version" | tr -d .)
    "$generator" "$out" "$version"
    for side in a b; do
        ppc "kref10x_${side}_$v.elf" "ZQ example KREF10x-$side, software version $version" \
            mpc8270_16mb
        ppc "krgh101_${side}_$v.elf" "ZQ example KRGH101-$side, software version $version" \
            mpc5554
    done
    ppc "krij11x_$v.elf" "ZQ example KRIJ11x, software version $version" mpc8270_8mb
done

if [ "$check" -eq 1 ]; then
    status=0
    for f in "$out"/*; do
        name=$(basename "$f")
        if ! cmp -s "$f" "$dest/$name"; then
            echo "examples/RT19_bin/$name differs from what $0 makes" >&2
            status=1
        fi
    done
    exit $status
fi
echo "Example images written to $out"

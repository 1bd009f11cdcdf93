#!/bin/sh
# Times `zidavuvorud-cli info` on a 32 MiB ELF image (254 sections, 20000 symbols) and a 4 MiB
# OMF-166 file, five runs each: wall time of the whole process (start-up included) and its
# peak resident memory (GNU time).
# Usage: bench/image_info.sh   (builds the release preset; figures go into BENCHMARKS.md)
set -eu
cd "$(dirname "$0")/.."
cmake --preset release > /dev/null
cmake --build --preset release --target zidavuvorud-cli make_bench_images > /dev/null
out=build/release/bench/images
mkdir -p "$out"
build/release/bench/make_bench_images "$out"
cli=build/release/src/cli/zidavuvorud-cli

measure() {  # name file plID
    size=$(stat -c %s "$2")
    printf '%s (%s bytes), platform %s\n' "$1" "$size" "$3"
    $cli info "$2" --platform "$3" | sed 's/^/    /'
    for run in 1 2 3 4 5; do
        start=$(date +%s%N)
        peak=$(/usr/bin/time -f %M $cli info "$2" --platform "$3" 2>&1 > /dev/null)
        end=$(date +%s%N)
        printf '    run %d: %d.%03d ms, peak %s KiB\n' "$run" $(((end - start) / 1000000)) \
            $(((end - start) / 1000 % 1000)) "$peak"
    done
}

# The program's own footprint, for comparison: a file that holds nothing.
: > "$out/empty.omf"
measure "empty OMF-166 file" "$out/empty.omf" 0x10000001 2>&1
measure "ELF image" "$out/image.elf" 0x20000002 2>&1
measure "OMF-166 image" "$out/image.omf" 0x10000001 2>&1

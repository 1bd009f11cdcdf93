#!/bin/sh
# Builds the fuzz preset (clang, libFuzzer, ASan + UBSan) and runs each image-reader target.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 25)
# New inputs go to build/fuzz/corpus/<reader> and are kept for the next run; the seeds in
# fuzz/corpus/<reader> are only read. A crash leaves its input as build/fuzz/crash-* and the
# log in build/fuzz/<reader>.log.
set -eu
cd "$(dirname "$0")/.."
seconds="${1:-25}"

cmake --preset fuzz > /dev/null
cmake --build --preset fuzz
for reader in elf omf; do
    corpus="build/fuzz/corpus/$reader"
    mkdir -p "$corpus"
    printf 'fuzz_%s_image: %s s ... ' "$reader" "$seconds"
    if build/fuzz/fuzz/fuzz_${reader}_image -max_total_time="$seconds" -max_len=8192 \
        -artifact_prefix=build/fuzz/ "$corpus" "fuzz/corpus/$reader" \
        > "build/fuzz/$reader.log" 2>&1; then
        grep -E '^#[0-9]+[[:space:]]+DONE' "build/fuzz/$reader.log" || echo done
    else
        echo "FAILED"
        tail -n 40 "build/fuzz/$reader.log"
        exit 1
    fi
done

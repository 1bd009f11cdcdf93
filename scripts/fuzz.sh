#!/bin/sh
# Builds the fuzz preset (clang, libFuzzer, ASan + UBSan) and runs each target: the two image
# readers, config.ini, the stored settings, the DF1 receiver and the replies of every request.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 25)
# New inputs go to build/fuzz/corpus/<reader> and are kept for the next run; the seeds in
# fuzz/corpus/<reader> are only read. A crash leaves its input as build/fuzz/crash-* and the
# log in build/fuzz/<reader>.log.
set -eu
cd "$(dirname "$0")/.."
seconds="${1:-25}"

cmake --preset fuzz > /dev/null
cmake --build --preset fuzz
# The image readers' targets are named by the reader (fuzz_elf_image: corpus/elf); the others
# by what they parse.
for target in elf_image omf_image catalogue df1_rx replies settings; do
    name="${target%_image}"
    corpus="build/fuzz/corpus/$name"
    mkdir -p "$corpus"
    seeds=""
    [ -d "fuzz/corpus/$name" ] && seeds="fuzz/corpus/$name"
    printf 'fuzz_%s: %s s ... ' "$target" "$seconds"
    # shellcheck disable=SC2086  # no seeds: no argument
    if build/fuzz/fuzz/fuzz_${target} -max_total_time="$seconds" -max_len=8192 \
        -artifact_prefix=build/fuzz/ "$corpus" $seeds \
        > "build/fuzz/$name.log" 2>&1; then
        grep -E '^#[0-9]+[[:space:]]+DONE' "build/fuzz/$name.log" || echo done
    else
        echo "FAILED"
        tail -n 40 "build/fuzz/$name.log"
        exit 1
    fi
done

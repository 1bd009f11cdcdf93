#!/bin/sh
# The serial port's idle processor time and notification latency on a pseudo-terminal, built
# optimised. Usage: bench/comport_bench.sh [SECONDS] [ROUNDS]     (defaults 10 and 10000)
set -eu
cd "$(dirname "$0")/.."
cmake --preset release > /dev/null
cmake --build --preset release --target comport_bench > /dev/null
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), Linux $(uname -r)"
build/release/bench/comport_bench idle "${1:-10}"
build/release/bench/comport_bench latency "${2:-10000}"

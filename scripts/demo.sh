#!/bin/sh
# The program's main job on this machine: builds zidavuvorud-cli and runs it.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release > /dev/null
cmake --build --preset release --target zidavuvorud-cli
build/release/src/cli/zidavuvorud-cli --help

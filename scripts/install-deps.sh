#!/bin/sh
# Installs the Debian packages that the build, the tests and the demo need, skipping what is
# already there. Usage: scripts/install-deps.sh [package ...]   (adds to the base list)
set -eu

packages="cmake ninja-build g++ pkg-config libgtest-dev googletest libcli11-dev libcurl4-openssl-dev libssl-dev
  nlohmann-json3-dev
  qt6-base-dev fonts-dejavu-core
  g++-mingw-w64-x86-64-posix wine wine64 xvfb binutils-powerpc-linux-gnu clang libclang-rt-dev
  dpkg-dev help2man lintian desktop-file-utils $*"

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
else
    SUDO=
fi
echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing

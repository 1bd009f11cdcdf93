#!/bin/sh
# Assembles and links one PowerPC executable the way the boards take it (ELF32 big-endian,
# embedded-ABI flag 0x80000000 from -memb) with GNU binutils for PowerPC
# (binutils-powerpc-linux-gnu). Sections land at the addresses of the linker script; the
# program's ELF reader uses section addresses only.
#   tools/ppc_elf.sh SRC.S LINK.ld OUT.elf
set -eu
[ $# -eq 3 ] || { echo "usage: $0 SRC.S LINK.ld OUT.elf" >&2; exit 2; }
# The linker names its input object in the symbol table: a fixed name keeps the output the
# same from run to run.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
obj=$tmp/$(basename "$1" .S).o
powerpc-linux-gnu-as -memb -mregnames -o "$obj" "$1"
# -n: sections unaligned to pages, so the files stay small.
powerpc-linux-gnu-ld -n --no-warn-rwx-segments -T "$2" -o "$3" "$obj"

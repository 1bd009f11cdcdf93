# Code, and one word in the 256 KiB between the large flash and the boot flash that no
# MPC8270 map covers.
    .section .text, "ax"
    .globl _start
_start:
    b _start
    .section .gap, "ax"
    .long 0x12345678

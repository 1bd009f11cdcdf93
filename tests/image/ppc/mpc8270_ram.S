# Flash code that also carries initialised data at a RAM address.
    .section .text, "ax"
    .globl _start
_start:
    b _start
    .section .data, "aw"
    .long 1, 2, 3

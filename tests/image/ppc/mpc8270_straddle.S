# A section that begins at the end of the large flash and runs on past it.
    .section .text, "ax"
    .globl _start
_start:
    b _start
    .section .tail, "ax"
    .fill 8, 4, 0x60000000

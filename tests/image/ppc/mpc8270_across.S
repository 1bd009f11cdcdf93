# Configuration data that run from one Aux range into the next one.
    .section .text, "ax"
    .globl _start
_start:
    b _start
    .section .cfg, "aw"
    .fill 64, 4, 0xC0FFEE00

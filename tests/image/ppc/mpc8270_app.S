# Firmware for an MPC8270 board: code and constants in the large flash with a .bss between
# them, reset vectors in the boot flash, a configuration word in an Aux range, and the
# unallocated .comment and .debug_str that every toolchain leaves at address 0.
    .section .text, "ax"
    .globl _start
_start:
    lis r1, 0x0100
    bl main
    b _start
main:
    li r3, 0
    blr
    .fill 248, 4, 0x60000000

    .section .bss, "aw", @nobits
buffer:
    .space 0x100

    .section .rodata, "a"
table:
    .long 1, 2, 3, 4
    .asciz "CM61"

    .section .vectors, "ax"
reset:
    b _start

    .section .aux, "aw"
    .long 0xCAFEBABE

    .section .debug_str, "MS", @progbits, 1
    .asciz "main"
    .ident "zq test toolchain"

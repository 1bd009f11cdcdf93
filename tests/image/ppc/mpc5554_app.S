# Firmware for the MPC5554 board without an entry symbol. The linker script lists a flash
# section, then an Aux section, then flash again, so the section table is out of address
# order; a .bss lies between .text and .data.
    .section .text, "ax"
    .globl main
main:
    li r3, 1
    blr
    .fill 300, 4, 0x60000000

    .section .bss, "aw", @nobits
    .space 0x40

    .section .data, "aw"
    .long 0x11223344, 0x55667788

    .section .calib, "aw"
    .fill 16, 4, 0xA5A5A5A5

    .section .text2, "ax"
    .fill 200, 4, 0x7C0802A6
    .ident "zq test toolchain"

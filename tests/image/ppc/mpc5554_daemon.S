# A flash daemon for the MPC5554 board: runs from internal RAM.
    .section .text, "ax"
    .globl _start
_start:
    lis r1, 0x4000
    ori r1, r1, 0xFF00
    b _start
    .fill 64, 4, 0x60000000

    .section .data, "aw"
    .long 0x44414D4E

# Reference L2 daemon for the MPC8270 boards (CM61/CM62): a stand-in for the real flash server,
# which the firmware side builds with its own tool chain. It has a real daemon's shape: entry
# _start, code, constants and a command buffer, all in the board's SDRAM (0x00000000 up). It
# sets up a stack and idles; kvsb-sim plays the daemon's part once EXEC reaches _start.
    .section .text, "ax"
    .globl _start
_start:
    lis     r1, stack_top@ha
    addi    r1, r1, stack_top@l
    lis     r3, banner@ha
    addi    r3, r3, banner@l
idle:
    b       idle

    .section .rodata, "a"
banner:
    .asciz  "ZQ reference L2 daemon, MPC8270 boards"

    .section .data, "aw"
    .balign 16
command_buffer:                 # one request of the command set, rounded up
    .fill   512, 1, 0
    .balign 16
stack:
    .fill   256, 1, 0
stack_top:

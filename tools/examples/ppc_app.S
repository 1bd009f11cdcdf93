# A sample PowerPC application for the example RT19_bin: the shape of a real one (code and
# constants in flash, a parameter block in an Aux range), small enough to burn in a moment.
# make_examples.sh fills in @BANNER@ for each version and processor.
    .section .text, "ax"
    .globl _start
_start:
    lis     r1, 0x0010
    lis     r3, banner@ha
    addi    r3, r3, banner@l
main_loop:
    b       main_loop

    .section .rodata, "a"
banner:
    .asciz  "@BANNER@"
    .balign 4
# A table of distinct words, so that a byte written to the wrong place shows in a comparison.
table:
    .rept   384
    .long   .
    .endr

    .section .params, "a"
params:
    .ascii  "@BANNER@"
    .balign 64, 0

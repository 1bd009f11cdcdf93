# Builds one PowerPC test image with GNU binutils.
#   cmake -DAS=... -DLD=... -DSRC=x.S -DLDS=x.ld -DOUT=dir/x -P build_image.cmake
# -memb sets the embedded-ABI flag (e_flags 0x80000000); -n keeps sections unaligned to pages,
# so the files stay small.
foreach(step
    "${AS};-memb;-mregnames;-o;${OUT}.o;${SRC}"
    "${LD};-n;--no-warn-rwx-segments;-T;${LDS};-o;${OUT}.elf;${OUT}.o")
  execute_process(COMMAND ${step} RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${step}: ${err}")
  endif()
endforeach()

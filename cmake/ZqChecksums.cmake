# Run by CPack after it made the packages (CPACK_POST_BUILD_SCRIPTS): SHA256SUMS beside them,
# in the format that `sha256sum -c SHA256SUMS` reads. The names are bare, so the file checks
# in whatever folder the packages and it are copied to together. CPack names the packages
# where it made them, under _CPack_Packages, before it copies them to CPACK_PACKAGE_DIRECTORY
# (the build folder, or cpack -B): the sums go where the packages end up.
set(sums "")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  file(SHA256 "${package}" hash)
  get_filename_component(name "${package}" NAME)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
if(sums STREQUAL "" OR NOT IS_DIRECTORY "${CPACK_PACKAGE_DIRECTORY}")
  message(FATAL_ERROR "No package to checksum in '${CPACK_PACKAGE_DIRECTORY}'")
endif()
file(WRITE "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS" "${sums}")
message(STATUS "Checksums: ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS")

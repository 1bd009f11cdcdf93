# The packages: on Windows the ZIP (ZqPackageWin64.cmake), on Linux the Debian package
# (ZqPackageDeb.cmake, configure preset deb). Both carry the same name and version and leave
# SHA256SUMS beside what they made:
#   cmake --workflow --preset package-win64
#   cmake --workflow --preset package-deb
set(CPACK_PACKAGE_VENDOR Trevik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
# A download is checked against SHA256SUMS (sha256sum -c, or certutil on Windows): written
# after every package run, whichever generator ran.
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/ZqChecksums.cmake)

if(WIN32)
  include(ZqPackageWin64)
else()
  include(ZqPackageDeb)
endif()
include(CPack)

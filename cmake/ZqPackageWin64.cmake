# The Windows package: Zidavuvorud-QS-<version>-win64.zip with the programs, a README for
# Windows users and the example RT19_bin, everything in one folder of that name.
#   cmake --workflow --preset package-win64
# (included by ZqPackage.cmake, which sets what both packages share)
# The programs link the compiler's run-time statically (-static), so they need no DLL beside
# them; the test package_system_imports keeps it so.
install(TARGETS zidavuvorud-cli RUNTIME DESTINATION .)
if(TARGET zidavuvorud)
  install(TARGETS zidavuvorud RUNTIME DESTINATION .)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/README-Windows.txt DESTINATION . RENAME README.txt)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/RT19_bin DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Zidavuvorud-QS)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)

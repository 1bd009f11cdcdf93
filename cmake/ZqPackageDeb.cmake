# The Debian package zidavuvorud_<version>_<arch>.deb: the Qt window with its desktop entry
# and icon, zidavuvorud-cli, and kvsb-sim for training and trying without a unit on the bench.
#   cmake --workflow --preset package-deb
# (included by ZqPackage.cmake, which sets what both packages share)
# What the programs need from Debian is found by dpkg-shlibdeps, never listed here.
include(GNUInstallDirs)
find_program(ZQ_HELP2MAN help2man REQUIRED)
find_program(ZQ_GZIP gzip REQUIRED)
find_program(ZQ_PYTHON3 NAMES python3 HINTS /usr/bin REQUIRED)
if(NOT TARGET zidavuvorud)
  message(FATAL_ERROR "The Debian package carries the Qt window: configure with ZQ_BUILD_QT=ON")
endif()

set(out ${CMAKE_BINARY_DIR}/package)
set(doc ${CMAKE_INSTALL_DATADIR}/doc/zidavuvorud)
file(MAKE_DIRECTORY ${out})
set(generated)

# The icon of the Windows program (resource 108) drawn again as PNG at the sizes of the icon
# theme: the desktops take the PNG nearest to what they show.
foreach(size 16 32 48 256)
  add_custom_command(
    OUTPUT ${out}/icon-${size}.png
    COMMAND ${ZQ_PYTHON3} ${PROJECT_SOURCE_DIR}/res/make_icon.py --png ${size}
            ${out}/icon-${size}.png
    DEPENDS ${PROJECT_SOURCE_DIR}/res/make_icon.py)
  list(APPEND generated ${out}/icon-${size}.png)
  install(FILES ${out}/icon-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME zidavuvorud.png)
endforeach()

# Manual pages: the terminal programs' from their own --help, so the page never lags behind
# the options; the window's, which has no --help, written by hand. gzip -n leaves no time
# stamp in the file, as lintian wants.
set(zidavuvorud-cli_name "burn firmware into signalling modules from a terminal")
set(kvsb-sim_name "the KVSB adapter and signalling modules simulated on a pseudo-terminal")
foreach(program zidavuvorud-cli kvsb-sim)
  add_custom_command(
    OUTPUT ${out}/${program}.1.gz
    COMMAND ${ZQ_HELP2MAN} --no-info --section=1 --version-string=${PROJECT_VERSION}
            "--name=${${program}_name}" --include=${PROJECT_SOURCE_DIR}/packaging/${program}.h2m
            --output=${out}/${program}.1 $<TARGET_FILE:${program}>
    COMMAND ${ZQ_GZIP} -9nf ${out}/${program}.1
    DEPENDS ${program} ${PROJECT_SOURCE_DIR}/packaging/${program}.h2m)
  list(APPEND generated ${out}/${program}.1.gz)
endforeach()
add_custom_command(
  OUTPUT ${out}/zidavuvorud.1.gz
  COMMAND ${ZQ_GZIP} -9n -c ${PROJECT_SOURCE_DIR}/packaging/zidavuvorud.1 > ${out}/zidavuvorud.1.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/zidavuvorud.1)
add_custom_command(
  OUTPUT ${out}/changelog.gz
  COMMAND ${ZQ_GZIP} -9n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > ${out}/changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)
# The example RT19_bin holds PowerPC ELF images: loose in /usr/share they would be taken for
# binaries of the wrong architecture, so they travel as one archive to unpack where wanted.
add_custom_command(
  OUTPUT ${out}/RT19_bin.tar.gz
  COMMAND tar --sort=name --owner=0 --group=0 --numeric-owner --mtime=@0
          -C ${PROJECT_SOURCE_DIR}/examples -cf ${out}/RT19_bin.tar RT19_bin
  COMMAND ${ZQ_GZIP} -9nf ${out}/RT19_bin.tar
  DEPENDS ${PROJECT_SOURCE_DIR}/examples/RT19_bin/config.ini)
list(APPEND generated ${out}/zidavuvorud.1.gz ${out}/changelog.gz ${out}/RT19_bin.tar.gz)
add_custom_target(zq_deb_files ALL DEPENDS ${generated})

install(TARGETS zidavuvorud zidavuvorud-cli kvsb-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# strip keeps the compilers' .comment notes, which Debian's own packages drop (dh_strip).
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program zidavuvorud zidavuvorud-cli kvsb-sim)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\"
        COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()")
install(FILES ${PROJECT_SOURCE_DIR}/packaging/zidavuvorud.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${out}/zidavuvorud.1.gz ${out}/zidavuvorud-cli.1.gz ${out}/kvsb-sim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/copyright
              ${out}/changelog.gz
        DESTINATION ${doc})
install(FILES ${out}/RT19_bin.tar.gz DESTINATION ${doc}/examples)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zidavuvorud)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Trevik <podpora@example.cz>")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware burner for signalling modules over the KVSB adapter")
# CPack puts the summary on the first line itself: this is the extended description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Zidavuvorud QS burns firmware into the flash of railway-signalling control
modules (XC167, MPC8270 and MPC5554 boards) through the KVSB serial
programming adapter: a guided dialog window in Czech for the service
operator (zidavuvorud) and its terminal front-end (zidavuvorud-cli).
.
kvsb-sim simulates the adapter and the modules on a pseudo-terminal, for
training and for trying the program without hardware; an example RT19_bin
is in /usr/share/doc/zidavuvorud/examples.")

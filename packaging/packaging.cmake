# Debian packages, built with CPack (scripts/package.sh):
#   quorsel          quorsel-pack, quorsel-apsim, quorsel-scan and quorsel-fleet, the bare updater (and quorsel.exe
#                    when QUORSEL_WINDOWS_UPDATER names a built one), manual pages
#   quorsel-desktop  the desktop module (Qt 6) that quorsel loads when a display is usable
# Dependencies come from dpkg-shlibdeps. The installed folder of the updater is the
# one quorsel and quorsel-pack were built with (QUORSEL_LIBDIR).
include(GNUInstallDirs)

set(QUORSEL_WINDOWS_UPDATER "" CACHE FILEPATH
    "A built quorsel.exe to install beside the Linux updater in the quorsel package (optional)")

set(QUORSEL_DEB_RELEASE 1)
set(QUORSEL_DEB_VERSION ${PROJECT_VERSION}-${QUORSEL_DEB_RELEASE})
set(QUORSEL_MAINTAINER "Quorsel developers <quorsel@example.org>")
file(RELATIVE_PATH QUORSEL_LIBDIR_IN_PREFIX ${CMAKE_INSTALL_PREFIX} ${QUORSEL_LIBDIR})

# Manual pages and the Debian changelog, compressed as Debian wants them (no name or
# time stamp in the gzip header, highest compression).
set(PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.Debian.in ${PACKAGING_OUT}/changelog.Debian @ONLY)
set(COMPRESSED)
set(COMPRESSED_SOURCES)
foreach(page quorsel quorsel-pack quorsel-apsim quorsel-scan quorsel-fleet)
  list(APPEND COMPRESSED_SOURCES ${CMAKE_SOURCE_DIR}/docs/man/${page}.1)
endforeach()
list(APPEND COMPRESSED_SOURCES ${PACKAGING_OUT}/changelog.Debian)
foreach(source ${COMPRESSED_SOURCES})
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${PACKAGING_OUT}/${name}.gz
                     COMMAND sh -c "gzip -9n -c \"$0\" > \"$1\"" ${source} ${PACKAGING_OUT}/${name}.gz
                     DEPENDS ${source} VERBATIM)
  list(APPEND COMPRESSED ${PACKAGING_OUT}/${name}.gz)
endforeach()
add_custom_target(packaging_files ALL DEPENDS ${COMPRESSED})

install(TARGETS quorsel-pack quorsel-apsim quorsel-scan quorsel-fleet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT quorsel)
install(TARGETS quorsel RUNTIME DESTINATION ${QUORSEL_LIBDIR_IN_PREFIX} COMPONENT quorsel)
if(QUORSEL_WINDOWS_UPDATER)
  if(NOT EXISTS ${QUORSEL_WINDOWS_UPDATER})
    message(FATAL_ERROR "QUORSEL_WINDOWS_UPDATER: ${QUORSEL_WINDOWS_UPDATER} does not exist")
  endif()
  # The packer packs this file into every Windows firmware file: it goes in without
  # debug information, whatever build it comes from (binutils-mingw-w64-x86-64).
  find_program(QUORSEL_MINGW_STRIP x86_64-w64-mingw32-strip)
  if(NOT QUORSEL_MINGW_STRIP)
    message(FATAL_ERROR "QUORSEL_WINDOWS_UPDATER: x86_64-w64-mingw32-strip (binutils-mingw-w64-x86-64) is missing")
  endif()
  add_custom_command(OUTPUT ${PACKAGING_OUT}/quorsel.exe
                     COMMAND ${QUORSEL_MINGW_STRIP} --strip-all -o ${PACKAGING_OUT}/quorsel.exe ${QUORSEL_WINDOWS_UPDATER}
                     DEPENDS ${QUORSEL_WINDOWS_UPDATER} VERBATIM)
  add_custom_target(packaging_windows_updater ALL DEPENDS ${PACKAGING_OUT}/quorsel.exe)
  install(FILES ${PACKAGING_OUT}/quorsel.exe DESTINATION ${QUORSEL_LIBDIR_IN_PREFIX}
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ COMPONENT quorsel)
endif()
install(FILES ${PACKAGING_OUT}/quorsel.1.gz ${PACKAGING_OUT}/quorsel-pack.1.gz ${PACKAGING_OUT}/quorsel-apsim.1.gz
              ${PACKAGING_OUT}/quorsel-scan.1.gz ${PACKAGING_OUT}/quorsel-fleet.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT quorsel)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_CURRENT_LIST_DIR}/copyright ${PACKAGING_OUT}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorsel COMPONENT quorsel)

set(CPACK_COMPONENTS_ALL quorsel)
if(TARGET quorsel-desktop)
  install(TARGETS quorsel-desktop LIBRARY DESTINATION ${QUORSEL_LIBDIR_IN_PREFIX} COMPONENT desktop
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${PACKAGING_OUT}/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorsel-desktop COMPONENT desktop)
  list(APPEND CPACK_COMPONENTS_ALL desktop)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorsel)
set(CPACK_PACKAGE_VENDOR "Quorsel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QUORSEL_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUORSEL_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SOURCE quorsel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_QUORSEL_PACKAGE_NAME quorsel)
set(CPACK_DEBIAN_QUORSEL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_QUORSEL_PACKAGE_RECOMMENDS quorsel-desktop)
set(CPACK_DEBIAN_QUORSEL_DESCRIPTION "firmware updater for a wireless-LAN access point
The firmware travels inside the updater itself: quorsel-pack appends the
firmware container (loader and flash image) to the bare updater installed in
/usr/lib/quorsel, and the resulting firmware file writes the chosen flash
regions to the access point over the LAN or a serial line. Its user interface
is Japanese: desktop dialogs where a display is usable (quorsel-desktop), a
terminal front-end elsewhere, for example over SSH.
.
This package also holds quorsel-scan, which finds the access points on the
local network and tells which ones a firmware file fits, quorsel-fleet, which
writes one firmware file to many access points side by side with a live table
and a JSON report, and quorsel-apsim, a
simulated access point for trying the updater and testing it.")

set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME quorsel-desktop)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SECTION utils)
# The Wayland platform plugin: quorsel asks Qt for it when only a Wayland compositor
# answers, and Qt cannot start without it then.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "quorsel (= ${QUORSEL_DEB_VERSION}), fonts-ipafont-gothic, qt6-wayland")
set(CPACK_DEBIAN_DESKTOP_DESCRIPTION "desktop dialogs for the quorsel firmware updater
The module that gives quorsel firmware files their Qt 6 dialogs (connection
settings, password, power-on prompt and progress). quorsel loads it only when
an X server or a Wayland compositor is usable; without this package, or
without a display, quorsel uses its terminal front-end.")

include(CPack)

# SPDX-License-Identifier: MIT
# make package: Debian packages of the workstation side from a native build (kv-export:
# the exporter and its manual page; libkvinterface-dev: what an outside C server builds
# against), and an archive of the firmware from the board build (the programs, the
# start-up script, the manual pages and the licence, laid out as in the board's image).
set(CPACK_PACKAGE_NAME kvrecorder)
set(CPACK_PACKAGE_VENDOR "the kvrecorder developers")
set(CPACK_PACKAGE_CONTACT "kvrecorder developers <kvrecorder@users.noreply.github.com>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_THREADS 0)

set(kv_doc_text "The supervisory and peripheral programs of a two-channel in-car video recorder")

if(KV_BOARD_BUILD)
  set(CPACK_GENERATOR TGZ)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL firmware)
  set(CPACK_ARCHIVE_FIRMWARE_FILE_NAME
    kvrecorder-firmware-${PROJECT_VERSION}-${CMAKE_SYSTEM_PROCESSOR})
  # Rooted at the image's /: usr/bin/..., etc/init.d/... .
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL export dev)
  set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/kvrecorder/kvrecorder")
  set(CPACK_DEBIAN_EXPORT_PACKAGE_NAME kv-export)
  set(CPACK_DEBIAN_EXPORT_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_EXPORT_PACKAGE_SHLIBDEPS ON)
  set(CPACK_COMPONENT_EXPORT_DESCRIPTION
"export an in-car recorder's GPS tracks and G-sensor data
kv_export reads the GPS track files (.gps) and G-sensor data files (.gsf)
that the in-car video recorder writes beside its recordings, and turns them
into GPX, CSV, GeoJSON, an SVG view of route, speed and G-forces, and one
HTML page per recordings folder.")
  set(CPACK_DEBIAN_DEV_PACKAGE_NAME libkvinterface-dev)
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  set(CPACK_COMPONENT_DEV_DESCRIPTION
"client library of an in-car recorder's servers (development files)
libkvinterface is the static library that the recorder's programs and its
outside C servers share: System V message queues and shared memory with the
synchronous request/reply frame, the event bus, the clients of the settings
store, the system server and the AV server, logging and the board's devices.

This package holds the C headers, the static library, the pkg-config file,
the CMake package, the manual page and the reference of every function.")
endif()

# What Debian asks of every package beside the files: the licence in its copyright format
# and a change log, both under /usr/share/doc/<package>.
function(kv_debian_docs component package)
  set(dir ${CMAKE_BINARY_DIR}/debian-doc/${package})
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
  string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
  string(REGEX REPLACE "\n([^\n])" "\n \\1" licence "${licence}")
  file(WRITE ${dir}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: kvrecorder

Files: *
Copyright: the kvrecorder developers
License: Expat
 ${licence}
")
  string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE ${dir}/changelog
"${package} (${PROJECT_VERSION}) unstable; urgency=medium

  * Release ${PROJECT_VERSION}.

 -- ${CPACK_PACKAGE_CONTACT}  ${date}
")
  execute_process(COMMAND gzip -9 -n -f ${dir}/changelog)
  install(FILES ${dir}/copyright ${dir}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endfunction()

if(NOT KV_BOARD_BUILD)
  kv_debian_docs(export kv-export)
  kv_debian_docs(dev libkvinterface-dev)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kvrecorder COMPONENT firmware)
# The start-up script goes where the board's init looks, /etc/init.d for the prefix /usr:
# outside the prefix, so only into an image (DESTDIR), never onto the machine that builds.
if(KV_BOARD_BUILD)
  set(kv_init_dir ${CMAKE_INSTALL_FULL_SYSCONFDIR}/init.d)
  install(CODE "
    if(\"\$ENV{DESTDIR}\" STREQUAL \"\" AND NOT \"${kv_init_dir}\" MATCHES \"^\${CMAKE_INSTALL_PREFIX}/\")
      message(FATAL_ERROR \"the firmware installs into a board image: set DESTDIR\")
    endif()" COMPONENT firmware)
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/board/S40kvrecorder DESTINATION ${kv_init_dir}
    COMPONENT firmware)
endif()

include(CPack)

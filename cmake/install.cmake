# SPDX-License-Identifier: MIT
# Installs the library for the recorder's outside C servers (the dev component): headers
# under include/kv/, libkvinterface.a in the library folder, a pkg-config file and a CMake
# package config.
include(CMakePackageConfigHelpers)

install(TARGETS kvinterface EXPORT kvinterfaceTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kv COMPONENT dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT kvinterfaceTargets NAMESPACE kv::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kvinterface COMPONENT dev)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/kvinterfaceConfig.cmake.in
  ${CMAKE_BINARY_DIR}/kvinterfaceConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kvinterface)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/kvinterfaceConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/kvinterfaceConfig.cmake
  ${CMAKE_BINARY_DIR}/kvinterfaceConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kvinterface COMPONENT dev)

# The pkg-config file finds the prefix from its own place: <prefix>/<libdir>/pkgconfig.
# A library folder given as an absolute path under the prefix works the same.
set(kv_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
foreach(var LIBDIR INCLUDEDIR)
  set(dir ${CMAKE_INSTALL_${var}})
  if(IS_ABSOLUTE "${dir}")
    file(RELATIVE_PATH dir ${CMAKE_INSTALL_PREFIX} ${dir})
  endif()
  set(KV_PC_${var} ${dir})
endforeach()
file(RELATIVE_PATH KV_PC_TO_PREFIX /prefix/${KV_PC_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" KV_PC_TO_PREFIX "${KV_PC_TO_PREFIX}")
set(KV_PC_ATOMIC "")
if(KV_NEEDS_LIBATOMIC)
  set(KV_PC_ATOMIC " -latomic")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/kvinterface.pc.in
  ${CMAKE_BINARY_DIR}/kvinterface.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/kvinterface.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# Installs the library for the recorder's outside C servers: headers under include/kv/,
# libkvinterface.a under lib/, a pkg-config file and a CMake package config.
include(CMakePackageConfigHelpers)

install(TARGETS kvinterface EXPORT kvinterfaceTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kv
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT kvinterfaceTargets NAMESPACE kv::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kvinterface)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/kvinterfaceConfig.cmake.in
  ${CMAKE_BINARY_DIR}/kvinterfaceConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kvinterface)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/kvinterfaceConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/kvinterfaceConfig.cmake
  ${CMAKE_BINARY_DIR}/kvinterfaceConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kvinterface)

configure_file(${CMAKE_CURRENT_LIST_DIR}/kvinterface.pc.in
  ${CMAKE_BINARY_DIR}/kvinterface.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/kvinterface.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

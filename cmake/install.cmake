# The installed package: the library, its headers, a CMake package for
# find_package(ombrix) and a pkg-config file.
include(CMakePackageConfigHelpers)

set(OMBRIX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ombrix)
install(EXPORT ombrixTargets NAMESPACE ombrix:: DESTINATION ${OMBRIX_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ombrixConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ombrixConfig.cmake INSTALL_DESTINATION ${OMBRIX_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ombrixConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ombrixConfig.cmake ${PROJECT_BINARY_DIR}/ombrixConfigVersion.cmake
  DESTINATION ${OMBRIX_CMAKE_DIR})

configure_file(${CMAKE_CURRENT_LIST_DIR}/ombrix.pc.in ${PROJECT_BINARY_DIR}/ombrix.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ombrix.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

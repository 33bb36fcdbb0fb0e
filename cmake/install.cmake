# Install rules: the library, its public headers, a CMake package and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS nuv_toolkit EXPORT nuv_toolkitTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# Only include/ is installed; internal headers live beside their sources in src/.
install(DIRECTORY include/nuv include/host DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(NUV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/nuv_toolkit)
install(EXPORT nuv_toolkitTargets NAMESPACE nuv_toolkit:: DESTINATION ${NUV_CMAKE_DIR})
configure_package_config_file(cmake/nuv_toolkitConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/nuv_toolkitConfig.cmake INSTALL_DESTINATION ${NUV_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/nuv_toolkitConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/nuv_toolkitConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/nuv_toolkitConfigVersion.cmake DESTINATION ${NUV_CMAKE_DIR})

# The pkg-config file finds the prefix from its own place, however deep the library
# directory is (lib, lib64, lib/x86_64-linux-gnu).
file(RELATIVE_PATH NUV_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" NUV_PC_TO_PREFIX ${NUV_PC_TO_PREFIX})
configure_file(cmake/nuv_toolkit.pc.in ${CMAKE_CURRENT_BINARY_DIR}/nuv_toolkit.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/nuv_toolkit.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Windows: `cpack` makes a zip of the same tree (DLL, import library, headers, CMake
# package, nuvz.exe and the runtime DLLs they need).
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  include(CPack)
endif()

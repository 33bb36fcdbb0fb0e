# Install rules: the library, its public headers, a CMake package and a pkg-config file.
include(CMakePackageConfigHelpers)

# Shared libraries get no execute bits, as Debian wants (harmless elsewhere).
install(TARGETS nuv_toolkit EXPORT nuv_toolkitTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
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
elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  # Linux: `cpack -G DEB` makes one Debian package of the whole tree: the library, its
  # headers, CMake package and pkg-config file, and nuvz with its manual page and
  # completion. Configure with CMAKE_INSTALL_PREFIX=/usr for Debian's library directory.
  set(NUV_PACKAGE_MAINTAINER "nuv_toolkit developers <nuv-toolkit@example.org>"
      CACHE STRING "Maintainer of the Debian package: Name <address>")
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_PACKAGE_NAME nuv-toolkit) # Debian names take no underscore
  set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${NUV_PACKAGE_MAINTAINER})
  set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
      "compressed and encrypted file streams, AES, MD5, text utilities")
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "nuv_toolkit is a C++17 shared library of building blocks: file streams that\n"
    "write and read compressed and AES-encrypted containers and gzip members, AES\n"
    "and MD5, hash table sizes and Bloom filters, regular expressions, a tokenizer,\n"
    "a string pool and scope profilers.\n"
    "\n"
    "This package holds the library, its headers, a CMake package and a pkg-config\n"
    "file, and nuvz, a command-line tool that packs, unpacks, describes and digests\n"
    "files.")
  # Dependencies from the linked libraries (dpkg-shlibdeps), a shlibs file for packages
  # built against this one, and the control files' modes as dpkg expects them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # dpkg runs ldconfig once after the installation through this trigger; cpack's own
  # postinst and postrm call it directly as well.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian/triggers)
  set(CPACK_STRIP_FILES ON) # no symbol tables in the packaged binaries

  # Debian's changelog, copyright file and lintian overrides go into the package only,
  # through a component that a plain install leaves out and cpack adds. The changelog's
  # date is the time of configuration, or SOURCE_DATE_EPOCH when set.
  find_program(NUV_GZIP gzip REQUIRED)
  string(TIMESTAMP NUV_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  set(doc_dir ${CMAKE_CURRENT_BINARY_DIR}/debian)
  configure_file(cmake/debian/changelog.in ${doc_dir}/changelog.Debian @ONLY)
  execute_process(COMMAND ${NUV_GZIP} -9nf ${doc_dir}/changelog.Debian COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${doc_dir}/changelog.Debian.gz cmake/debian/copyright
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_PACKAGE_NAME}
          COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES cmake/debian/lintian-overrides RENAME ${CPACK_DEBIAN_PACKAGE_NAME}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT debian EXCLUDE_FROM_ALL)
  set(CPACK_INSTALL_CMAKE_PROJECTS
      ${PROJECT_BINARY_DIR} ${PROJECT_NAME} ALL /
      ${PROJECT_BINARY_DIR} ${PROJECT_NAME} debian /)
  include(CPack)
endif()

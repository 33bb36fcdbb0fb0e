# The DLLs a mingw-built program needs at run time besides the system's: the compiler's
# runtime and zlib, found where the compiler finds its libraries, and libgcrypt with its
# libgpg-error, found in the bin directory beside libgcrypt's import library. They are
# copied beside the programs of the build, so that wine (and Windows) finds them in the
# program's own directory, and installed beside the library. Needs NUV_GCRYPT_LIBRARY.
set(NUV_WINDOWS_RUNTIME_DLLS)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll zlib1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "${dll} was not found beside the compiler's libraries")
  endif()
  get_filename_component(path "${path}" REALPATH)
  list(APPEND NUV_WINDOWS_RUNTIME_DLLS ${path})
endforeach()
get_filename_component(gcrypt_bin_dir ${NUV_GCRYPT_LIBRARY} DIRECTORY)
get_filename_component(gcrypt_bin_dir ${gcrypt_bin_dir}/../bin ABSOLUTE)
foreach(dll libgcrypt-20.dll libgpg-error-0.dll)
  if(NOT EXISTS ${gcrypt_bin_dir}/${dll})
    message(FATAL_ERROR "${dll} was not found in ${gcrypt_bin_dir}")
  endif()
  list(APPEND NUV_WINDOWS_RUNTIME_DLLS ${gcrypt_bin_dir}/${dll})
endforeach()

file(COPY ${NUV_WINDOWS_RUNTIME_DLLS} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
install(FILES ${NUV_WINDOWS_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR})

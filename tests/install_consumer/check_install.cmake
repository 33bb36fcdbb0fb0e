# Installs the build tree into a staging prefix, then configures, builds and runs a
# consumer project against it with find_package, and again with pkg-config's flags.
# LIBDIR is the library directory under the prefix (lib when not given). With PREFIX (an
# unpacked Debian package's usr) the consumer is checked against that instead of an
# install. With TOOLCHAIN (a Windows build) the staging prefix is the unpacked zip that
# cpack makes instead, the consumer is cross-built with that toolchain and run through
# EMULATOR.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/stage)
if(PREFIX)
  set(prefix ${PREFIX})
endif()
if(NOT LIBDIR)
  set(LIBDIR lib)
endif()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

if(TOOLCHAIN)
  run(cpack --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR}/package)
  file(GLOB zip ${WORK_DIR}/package/*.zip)
  file(MAKE_DIRECTORY ${prefix})
  run(${CMAKE_COMMAND} -E chdir ${prefix} ${CMAKE_COMMAND} -E tar xf ${zip})
  foreach(expected bin/libnuv_toolkit.dll bin/nuvz.exe bin/zlib1.dll bin/libgcrypt-20.dll bin/libgpg-error-0.dll
          lib/libnuv_toolkit.dll.a include/nuv/nuv_zstream.h include/host/host_services.h
          lib/cmake/nuv_toolkit/nuv_toolkitConfig.cmake)
    if(NOT EXISTS ${prefix}/${expected})
      message(FATAL_ERROR "the zip lacks ${expected}")
    endif()
  endforeach()
  run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}
      -DNUV_WINDOWS_DEPS=${prefix} -DCMAKE_PREFIX_PATH=${prefix})
  run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
  # Beside the DLLs it needs, as a user would put it.
  file(COPY ${WORK_DIR}/consumer/consumer.exe DESTINATION ${prefix}/bin)
  run(${EMULATOR} ${prefix}/bin/consumer.exe WORKING_DIRECTORY ${WORK_DIR})
  message(STATUS "${last_output}")
  # nuvz.exe starts from the unpacked tree alone: every DLL it loads is in the zip.
  run(${EMULATOR} ${prefix}/bin/nuvz.exe --help WORKING_DIRECTORY ${WORK_DIR})
  if(NOT last_output MATCHES "^Usage:")
    message(FATAL_ERROR "nuvz.exe --help from the zip printed no usage:\n${last_output}")
  endif()
  return()
endif()

if(NOT PREFIX)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
endif()
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_RPATH=${prefix}/${LIBDIR})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${WORK_DIR}/consumer/consumer WORKING_DIRECTORY ${WORK_DIR})
message(STATUS "${last_output}")

# The same client built with the flags pkg-config gives.
find_program(PKG_CONFIG pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
run(${PKG_CONFIG} --cflags --libs nuv_toolkit)
separate_arguments(flags UNIX_COMMAND "${last_output}")
run(c++ -std=c++17 ${CONSUMER_DIR}/consumer.cpp ${flags} -Wl,-rpath,${prefix}/${LIBDIR} -o ${WORK_DIR}/consumer_pc)
run(${WORK_DIR}/consumer_pc WORKING_DIRECTORY ${WORK_DIR})
message(STATUS "${last_output}")

# Installs the build tree into a staging prefix, then configures, builds and runs a
# consumer project against it with find_package, and again with pkg-config's flags.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/stage)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_RPATH=${prefix}/lib)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${WORK_DIR}/consumer/consumer WORKING_DIRECTORY ${WORK_DIR})
message(STATUS "${last_output}")

# The same client built with the flags pkg-config gives.
find_program(PKG_CONFIG pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
run(${PKG_CONFIG} --cflags --libs nuv_toolkit)
separate_arguments(flags UNIX_COMMAND "${last_output}")
run(c++ -std=c++17 ${CONSUMER_DIR}/consumer.cpp ${flags} -Wl,-rpath,${prefix}/lib -o ${WORK_DIR}/consumer_pc)
run(${WORK_DIR}/consumer_pc WORKING_DIRECTORY ${WORK_DIR})
message(STATUS "${last_output}")

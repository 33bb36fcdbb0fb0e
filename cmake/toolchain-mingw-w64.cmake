# Cross-builds for 64-bit Windows with Debian's mingw-w64 (POSIX threads), and runs what
# it built under wine: ctest and test discovery start every program through the emulator.
#
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64.cmake \
#         -DNUV_WINDOWS_DEPS=/path/with/gtest/and/boost
#
# NUV_WINDOWS_DEPS names a prefix of Windows builds the distribution lacks (GoogleTest,
# Boost's headers); scripts/test-windows.sh makes it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NUV_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${NUV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NUV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NUV_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${NUV_MINGW_TRIPLE})
if(NUV_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${NUV_WINDOWS_DEPS})
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NUV_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(NUV_WINE wine)
if(NUV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${NUV_WINE})
endif()

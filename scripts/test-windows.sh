#!/usr/bin/env bash
# Cross-builds the library (DLL and import library), nuvz.exe and every test program for
# 64-bit Windows with mingw-w64, runs the whole suite under wine through ctest, and checks
# that the DLL exports what the Linux library exports.
#
# Windows builds of what Debian does not package for mingw go to build/windows-deps:
# GoogleTest, built from /usr/src/googletest with the same toolchain, and Boost's headers
# (1.81, whose Boost.Regex needs no compiled library), unpacked from Debian's package
# beside the system's Boost rather than installed over it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh windows

root=$PWD
deps=$root/build/windows-deps
build=$root/build/windows
toolchain=$root/cmake/toolchain-mingw-w64.cmake
jobs=$(nproc)

if [ ! -f "$deps/gtest/lib/libgtest.a" ]; then
  echo "== GoogleTest for Windows =="
  cmake -S /usr/src/googletest -B "$deps/gtest-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps/gtest" >/dev/null
  cmake --build "$deps/gtest-build" -j "$jobs" >/dev/null
  cmake --install "$deps/gtest-build" >/dev/null
fi
boost=$deps/boost-1.81/usr
if [ ! -f "$boost/include/boost/regex.hpp" ]; then
  echo "== Boost 1.81 headers for Windows =="
  download=$(mktemp -d)
  # The package lists may be older than the package: fetch them once and try again.
  (cd "$download" && { apt-get download -qq libboost1.81-dev || { apt-get update -qq && apt-get download -qq libboost1.81-dev; }; })
  dpkg -x "$download"/libboost1.81-dev_*.deb "$deps/boost-1.81"
  rm -rf "$download"
fi

# nuvz.exe's end-to-end test exchanges files with the Linux nuvz.
echo "== Linux nuvz and library, the peers of the Windows build =="
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$jobs" --target nuvz nuv_toolkit

echo "== Windows build =="
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DNUV_WINDOWS_DEPS="$deps" -DBOOST_ROOT="$boost" -DBoost_NO_BOOST_CMAKE=ON -DNUV_BUILD_TESTS=ON -DNUV_BUILD_TOOLS=ON \
  -DNUV_NUVZ_PEER="$root/build/release/tools/nuvz/nuvz" >/dev/null
cmake --build "$build" -j "$jobs"

# One persistent wine server and a first wine process whose output goes nowhere: test
# discovery reads each program's output through a pipe that the first wine process of a
# session would otherwise hold open, and every program would start in seconds.
export WINEPREFIX=$root/build/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wineserver -p || true # already running for this prefix: that one serves
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
trap 'wineserver -k || true' EXIT

echo "== Windows tests under wine =="
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 600

echo "== Exports: the DLL beside the Linux library =="
bash scripts/compare-exports.sh "$build/bin/libnuv_toolkit.dll"

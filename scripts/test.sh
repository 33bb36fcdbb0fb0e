#!/usr/bin/env bash
# Builds the library and its tests twice and runs the whole suite in each build:
# Release, whose API reference is built as well, then Debug with AddressSanitizer and
# UndefinedBehaviorSanitizer; then a short build without ISA-L runs the stream tests
# against the zlib-only reader, a ThreadSanitizer build runs the threaded tests,
# scripts/test-package.sh builds and checks the Debian package, and
# scripts/test-windows.sh cross-builds everything for 64-bit Windows and runs the whole
# suite under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:strict_string_checks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

# run_suite DIR TEST_REGEX CMAKE_ARGS...: an empty regex runs every test.
run_suite() {
  local dir=$1 tests=$2
  shift 2
  cmake -S . -B "$dir" -DNUV_BUILD_TESTS=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600 ${tests:+-R "$tests"}
}

# leg NAME: closes the leg before it with its time, then names the next.
leg() {
  [ -z "${leg_name:-}" ] || echo "-- ${leg_name}: $((SECONDS - leg_start)) s"
  leg_name=$1 leg_start=$SECONDS
  [ -z "$leg_name" ] || echo "== $leg_name =="
}

leg "Release"
run_suite build/release "" -DCMAKE_BUILD_TYPE=Release
echo "== API reference (fails on any Doxygen warning) =="
cmake --build build/release --target docs
leg "Debug + AddressSanitizer + UndefinedBehaviorSanitizer"
run_suite build/asan "" -DCMAKE_BUILD_TYPE=Debug -DNUV_SANITIZE=ON
leg "Release without ISA-L: the stream tests"
run_suite build/zlib-only '^Zstream' -DCMAKE_BUILD_TYPE=Release -DNUV_WITH_ISAL=OFF -DNUV_BUILD_TOOLS=OFF \
  -DNUV_BUILD_EXAMPLES=OFF
leg "ThreadSanitizer: the threaded tests"
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNUV_SANITIZE_THREAD=ON -DNUV_BUILD_TOOLS=OFF >/dev/null
cmake --build build/tsan -j "$jobs" --target zstream_threads_test
ctest --test-dir build/tsan --output-on-failure -j "$jobs" --timeout 600 -R '^ZstreamThreads'
leg "Debian package: cpack, lintian, a consumer and nuvz from the unpacked package"
bash scripts/test-package.sh
leg "Windows (mingw-w64) under wine: the whole suite"
bash scripts/test-windows.sh
leg ""

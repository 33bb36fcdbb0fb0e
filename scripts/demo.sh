#!/usr/bin/env bash
# Builds the library and its tools in Release and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target nuv_demo
build/release/tools/nuv_demo

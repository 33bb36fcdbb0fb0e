#!/usr/bin/env bash
# Fails when clang-format would change any tracked C++ source or header.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
echo "format: clean"

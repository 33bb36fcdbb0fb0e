#!/usr/bin/env bash
# Compares the Windows DLL's export table with the Linux library's dynamic symbols,
# demangled: every class and function the library exports on one platform must be
# exported on the other. Types that are spelled differently by the platforms' ABIs are
# made alike first (64-bit integers, FILE, va_list); the standard library's and Boost's
# template instances that the Linux library happens to export (weak, default
# visibility) are left out, as are the type-name strings only Linux lists and the
# construction vtables only Windows lists.
#   scripts/compare-exports.sh build/windows/bin/libnuv_toolkit.dll
set -euo pipefail
cd "$(dirname "$0")/.."
dll=$1
so=build/release/libnuv_toolkit.so
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target nuv_toolkit >/dev/null

normalise() {
  c++filt | sed -E -e 's/unsigned long long/UINT64/g; s/unsigned long/UINT64/g' \
    -e 's/_IO_FILE\*|_iobuf\*/FILE*/g; s/^(debug_message_v\(.*, )(__va_list_tag\*|char\*)\)$/\1va_list)/' |
    grep -v -E '^((void )?std::|typeinfo name for|(typeinfo|vtable) for (boost|std)::|construction vtable|$)' |
    sort -u
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
nm -D --defined-only "$so" | awk '{print $3}' | normalise >"$work/linux"
x86_64-w64-mingw32-objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  awk 'NR > 1 {print $NF}' | normalise >"$work/windows"

echo "exports: Linux $(wc -l <"$work/linux"), Windows $(wc -l <"$work/windows") (demangled, library's own)"
if ! diff "$work/linux" "$work/windows" >"$work/diff"; then
  echo "exports differ (< Linux only, > Windows only):"
  cat "$work/diff"
  exit 1
fi
echo "exports: the same"

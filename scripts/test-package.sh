#!/usr/bin/env bash
# Builds the Debian package with cpack from a Release build of its own (prefix /usr, no
# tests) and checks it: lintian reports no error, and from the package unpacked into a
# throw-away root a consumer builds with find_package and with pkg-config, and nuvz runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

# Debian's compiler and linker flags, all hardening on (fortified calls, stack protector,
# read-only relocations bound at start), over the Release flags.
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
cxx_flags="$(flags CPPFLAGS) $(flags CXXFLAGS)" c_flags="$(flags CPPFLAGS) $(flags CFLAGS)"
ld_flags=$(flags LDFLAGS)
dir=build/package
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DNUV_BUILD_TESTS=OFF -DNUV_BUILD_TOOLS=ON -DCMAKE_CXX_FLAGS="$cxx_flags" -DCMAKE_C_FLAGS="$c_flags" \
  -DCMAKE_SHARED_LINKER_FLAGS="$ld_flags" -DCMAKE_EXE_LINKER_FLAGS="$ld_flags" >/dev/null
cmake --build "$dir" -j "$(nproc)"
rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(echo "$dir"/*.deb)
echo "package: $deb"

# Every tag is shown, overridden ones too (O:); an error (E:) or a lintian that cannot run
# fails. As root, lintian wants --allow-root to run without complaint.
lintian_args=(--display-info --show-overrides)
[ "$(id -u)" -ne 0 ] || lintian_args+=(--allow-root)
status=0
report=$(lintian "${lintian_args[@]}" "$deb") || status=$?
echo "${report:-lintian: no tags}"
if [ "$status" -ne 0 ] || grep -q '^E:' <<<"$report"; then
  echo "lintian: errors (exit status $status)" >&2
  exit 1
fi
dpkg -c "$deb"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
library=$(find "$root/usr/lib" -name 'libnuv_toolkit.so.*.*' -print -quit)
libdir=$(dirname "${library#"$root"/usr/}")
cmake -DPREFIX="$root/usr" -DLIBDIR="$libdir" -DCONSUMER_DIR="$PWD/tests/install_consumer" \
  -DWORK_DIR="$PWD/$dir/consumer_check" -P tests/install_consumer/check_install.cmake

export LD_LIBRARY_PATH=$root/usr/$libdir
nuvz=$root/usr/bin/nuvz
help=$("$nuvz" --help) && grep -q '^Usage:' <<<"$help"
seq 100000 >"$root/sample.txt"
"$nuvz" pack --password secret "$root/sample.txt" "$root/sample.nuv"
"$nuvz" unpack --password secret "$root/sample.nuv" "$root/back.txt"
cmp "$root/sample.txt" "$root/back.txt"
echo "package: nuvz round trip ok"

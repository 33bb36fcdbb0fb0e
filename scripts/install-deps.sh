#!/usr/bin/env bash
# Installs the Debian packages that the build, tests, benchmarks, fuzzers and the check of
# the Debian package need; `install-deps.sh windows` adds the cross toolchain, wine and the
# Windows builds of zlib and libgcrypt. Idempotent: when everything is already there it
# installs nothing and prints nothing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  zlib1g-dev libboost-regex-dev libboost-dev
  libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
  clang libclang-rt-14-dev clang-format
  libisal-dev pigz gzip python3 python3-argon2 python3-cryptography
  doxygen mandoc groff-base bash-completion dpkg-dev file lintian
)
if [ "${1:-}" = windows ]; then
  packages+=(g++-mingw-w64-x86-64-posix wine64 wine libz-mingw-w64-dev libgcrypt-mingw-w64-dev googletest)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

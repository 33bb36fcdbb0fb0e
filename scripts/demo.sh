#!/usr/bin/env bash
# Builds the library and nuvz in Release, then packs a generated sample file with a password,
# unpacks it again, compares the result with the original and prints sizes and throughput.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target nuvz
nuvz=build/release/tools/nuvz/nuvz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sample="$work/sample.txt"
python3 -c "
import random, sys
random.seed(2026)
words = [''.join(random.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(random.randint(2, 9))) for _ in range(5000)]
sys.stdout.writelines(' '.join(random.choice(words) for _ in range(8)) + '\n' for _ in range(1200000))
" >"$sample"

now() { date +%s%N; }
mb_per_s() { echo $(($1 * 1000 / ($2 > 0 ? $2 : 1))); } # bytes, nanoseconds

start=$(now)
"$nuvz" pack --password "demo password" "$sample" "$work/sample.nuv"
pack_ns=$(($(now) - start))
start=$(now)
"$nuvz" unpack --password "demo password" "$work/sample.nuv" "$work/unpacked.txt"
unpack_ns=$(($(now) - start))

size=$(stat -c %s "$sample")
packed=$(stat -c %s "$work/sample.nuv")
echo
"$nuvz" info "$work/sample.nuv"
echo
echo "sample:   $size bytes"
echo "packed:   $packed bytes ($((packed * 100 / size))% of the sample), compressed and encrypted"
echo "pack:     $(mb_per_s "$size" "$pack_ns") MB/s"
echo "unpack:   $(mb_per_s "$size" "$unpack_ns") MB/s"
if cmp -s "$sample" "$work/unpacked.txt"; then
    echo "round trip: identical ($("$nuvz" md5 "$work/unpacked.txt" | cut -c1-32))"
else
    echo "round trip: DIFFERENT"
    exit 1
fi

#!/usr/bin/env bash
# Builds the library and nuvz in Release, then digests a generated sample file with
# nuvz and with md5sum, compares the digests and prints the throughput.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target nuvz
nuvz=build/release/tools/nuvz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sample="$work/sample.txt"
python3 -c "
import random, sys
random.seed(2026)
words = [''.join(random.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(random.randint(2, 9))) for _ in range(5000)]
out = sys.stdout
for line in range(1200000):
    out.write(' '.join(random.choice(words) for _ in range(8)) + '\n')
" >"$sample"
size=$(stat -c %s "$sample")

start=$(date +%s%N)
ours=$("$nuvz" md5 "$sample")
ns=$(($(date +%s%N) - start))
theirs=$(md5sum "$sample")
echo "sample: $size bytes"
echo "nuvz md5: ${ours%% *}  ($((size * 1000 / (ns > 0 ? ns : 1))) MB/s)"
[ "$ours" = "$theirs" ] && echo "md5sum agrees" || { echo "md5sum DISAGREES: $theirs"; exit 1; }

#!/usr/bin/env bash
# Packing a product with corvane-pack against xz coding the same package as LZMA-alone with the
# same settings (8 MiB dictionary, lc 3, lp 0, pb 2, normal mode, binary-tree match finder with
# 4-byte hashing, 32 fast bytes; xz has no multithreaded coder for this format), side by side in
# one run. The packer runs its coder's match finder on a second thread. The packer measured is the
# runnable Windows build's (x86 where this machine can execute 32-bit programs, else x64; the
# host's runs under the sanitizers), under one wineserver; its time includes reading the files,
# writing the package and the bootstrap. The product is the one of bootstrap_vs_decoder.sh
# (~80 MB, ~200 mixed files).
# Prints: BENCH pack_vs_xz[<build>] <median ratio> 1.0
#   bench/pack_vs_xz.sh [ROUNDS]     (default 3)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/platform.sh"
rounds="${1:-3}"
source "$root/bench/bench_product.sh"
corvane_bench_workspace
arch=x86; [ "$build" = win32 ] || arch=x64

"$root/cmake/wine-server.sh" start
trap '"$root/cmake/wine-server.sh" stop; rm -f pack-bench.exe pack-bench.pak pack-bench.lzma' EXIT
now() { date +%s.%N; }
ratios=()
for i in $(seq 1 "$rounds"); do
  sync
  t0=$(now)
  wine "$w/bin/corvane-pack.exe" build --quiet --setup Setup.exe --files files --caption "Corvane Bench" --date 46000.5 \
    --arch "$arch" --package-out pack-bench.pak -o pack-bench.exe </dev/null
  t1=$(now)
  sync
  t2=$(now)
  xz --format=lzma --lzma1=dict=8MiB,lc=3,lp=0,pb=2,mode=normal,mf=bt4,nice=32 --threads=1 -c pack-bench.pak >pack-bench.lzma
  t3=$(now)
  pack=$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}'); xz=$(awk -v a="$t2" -v b="$t3" 'BEGIN {print b - a}')
  r=$(awk -v a="$pack" -v b="$xz" 'BEGIN {print a / b}')
  printf 'round %d: corvane-pack %.2f s, xz %.2f s, ratio %.3f (package %d bytes, payloads %d / %d bytes)\n' "$i" "$pack" "$xz" "$r" \
    "$(stat -c %s pack-bench.pak)" "$(stat -c %s pack-bench.exe)" "$(stat -c %s pack-bench.lzma)" >&2
  ratios+=("$r")
done
median=$(printf '%s\n' "${ratios[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
printf 'BENCH pack_vs_xz[%s] %.3f 1.0\n' "$build" "$median"

#!/usr/bin/env bash
# The bootstrap's whole run against the decoder alone on the same payload, side by side in one
# run under one wineserver. Builds (once, cached in build/bench) a product of ~200 files of mixed
# text and binary, ~80 MB, with a setup that exits at once, and packs it with corvane-pack (the
# decoder's input is the bootstrap's payload, cut out of it: the same bytes).
# With logging on for one more run, the bootstrap's integrity check's share of its whole run is
# taken from its phase times. Measures the x86 build where this machine can execute 32-bit programs, else x64.
# The same for a product of about 1 MB (the first files of the large one): small packages must
# not pay for what large ones gain. And the bootstrap's peak memory (logged by the run with logging
# on) against the package's size.
# Prints: BENCH bootstrap_vs_decoder[<build>] <median ratio> 1.10
#         BENCH bootstrap_vs_decoder_1mb[<build>] <median ratio> 1.10
#         BENCH bootstrap_peak_memory_vs_package[<build>] <ratio> 1.2
#   bench/bootstrap_vs_decoder.sh [ROUNDS]     (default 5)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/platform.sh"
rounds="${1:-5}"
# The GUI bootstrap shows its wait dialog: it needs a display.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
source "$root/bench/bench_product.sh"
corvane_bench_workspace
# The bootstrap is packed again whenever the build has a newer one or packer: the files are what
# is cached.
# The build's own packer (the host's runs under the sanitizers), with the build's stubs.
pack="$w/bin/corvane-pack.exe"
arch=x86; [ "$build" = win32 ] || arch=x64
pack_product() {  # files dir, output prefix: <prefix>.exe, <prefix>.pak, <prefix>.lzma
  if [ ! -f "$2.exe" ] || [ "$w/bin/bootstrap.exe" -nt "$2.exe" ] || [ "$w/bin/lzma.exe" -nt "$2.exe" ] || [ "$pack" -nt "$2.exe" ]; then
    echo "packing $1 (coding takes a minute or two)..." >&2
    wine "$pack" build --quiet --setup Setup.exe --files "$1" --caption "Corvane Bench" --date 46000.5 --arch "$arch" \
      --package-out "$2.pak" -o "$2.exe"
    local json offset size
    json="$("$root/build/host/bin/corvane-pack" inspect --json "$2.exe")"
    offset=$(echo "$json" | sed -n 's/.*"name": "1000".*"size": \([0-9]*\), "offset": \([0-9]*\).*/\2/p')
    size=$(echo "$json" | sed -n 's/.*"name": "1000".*"size": \([0-9]*\), "offset": \([0-9]*\).*/\1/p')
    dd if="$2.exe" of="$2.lzma" bs=1M iflag=skip_bytes,count_bytes skip="$offset" count="$size" status=none
  fi
}
# The small product: the first files of the large one, about 1 MB together.
if [ ! -d small ]; then
  mkdir small.part; total=0
  for f in files/*; do
    size=$(stat -c %s "$f")
    [ $((total + size)) -le 1000000 ] || continue
    cp "$f" small.part/; total=$((total + size))
  done
  mv small.part small
fi
pack_product files bench
pack_product small small
cp "$w/tests/launch.exe" "$w/bin/lzma.exe" .
echo "package $(stat -c %s bench.pak) bytes in $(ls files | wc -l) files, payload $(stat -c %s bench.lzma) bytes" >&2
echo "small package $(stat -c %s small.pak) bytes in $(ls small | wc -l) files, payload $(stat -c %s small.lzma) bytes" >&2

"$root/cmake/wine-server.sh" start
trap '"$root/cmake/wine-server.sh" stop' EXIT

now() { date +%s.%N; }
# One round: the bootstrap, then the decoder on its payload; prints the ratio.
round() {  # prefix
  local t0 t1 t2 t3 boot dec
  # Each timed run starts with no dirty pages of the other run still being written back.
  sync
  t0=$(now); wine launch.exe "$1.exe" </dev/null >/dev/null 2>launch.err; t1=$(now)
  grep -q 'exit code: 0' launch.err || { echo "bootstrap run failed: $(cat launch.err)" >&2; exit 1; }
  rm -f out.pak
  sync
  t2=$(now); wine launch.exe lzma.exe d "$1.lzma" out.pak </dev/null >/dev/null 2>launch.err; t3=$(now)
  grep -q 'exit code: 0' launch.err || { echo "decoder run failed: $(cat launch.err)" >&2; exit 1; }
  rm -f out.pak  # the bootstrap removes its own files within its run
  boot=$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}'); dec=$(awk -v a="$t2" -v b="$t3" 'BEGIN {print b - a}')
  printf '%s round: bootstrap %.2f s, decoder %.2f s, ratio %.3f\n' "$1" "$boot" "$dec" "$(awk -v a="$boot" -v b="$dec" 'BEGIN {print a / b}')" >&2
  awk -v a="$boot" -v b="$dec" 'BEGIN {print a / b}'
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ratios=(); small_ratios=()
for i in $(seq 1 "$rounds"); do
  ratios+=("$(round bench)")
  small_ratios+=("$(round small)")
done
printf 'BENCH bootstrap_vs_decoder[%s] %.3f 1.10\n' "$build" "$(median "${ratios[@]}")"
printf 'BENCH bootstrap_vs_decoder_1mb[%s] %.3f 1.10\n' "$build" "$(median "${small_ratios[@]}")"

# The integrity check's share of the bootstrap's whole run, from its phase times (one more run
# with logging on: "Setup phases (ms): entry A, <modules>, dialog B, checked C, ...").
key='HKLM\SOFTWARE\Tavrel\Corvane\Log'
wine reg add "$key" /v Level /t REG_DWORD /d 1 /f /reg:32 </dev/null >/dev/null 2>&1
rm -rf Logs
wine launch.exe bench.exe </dev/null >/dev/null 2>launch.err
wine reg delete "$key" /v Level /f /reg:32 </dev/null >/dev/null 2>&1
phases=$(grep -a -h -o 'Setup phases (ms):.*' Logs/*.log 2>/dev/null | tail -n 1 | tr -d '\r')
if [ -z "$phases" ]; then
  echo "no phase times in the bootstrap's log" >&2; exit 1
fi
echo "$phases" >&2
# The check runs on its own thread from the program's entry; the "checked" phase is what the
# sequence still waits for it, which is its cost to the run. Its own time is logged beside.
grep -a -h -o 'Setup background work (ms):.*' Logs/*.log 2>/dev/null | tail -n 1 | tr -d '\r' >&2 || true
share=$(echo "${phases#*:}" | tr ',' '\n' | awk '{ v = $NF; total += v; if ($1 == "checked") c = v } END { if (total > 0) printf "%.4f", c / total; else print "nan" }')
printf 'BENCH integrity_check_share[%s] %s 0.03\n' "$build" "$share"

# Peak memory of that run ("Setup peak memory (bytes): working set A, committed B"): the larger
# of the two against the package's size.
memory=$(grep -a -h -o 'Setup peak memory (bytes):.*' Logs/*.log 2>/dev/null | tail -n 1 | tr -d '\r')
if [ -z "$memory" ]; then
  echo "no peak memory in the bootstrap's log" >&2; exit 1
fi
echo "$memory (package $(stat -c %s bench.pak) bytes)" >&2
peak=$(echo "${memory#*:}" | tr ',' '\n' | awk '{ if ($NF > m) m = $NF } END { print m + 0 }')
printf 'BENCH bootstrap_peak_memory_vs_package[%s] %.3f 1.2\n' "$build" "$(awk -v p="$peak" -v s="$(stat -c %s bench.pak)" 'BEGIN {print p / s}')"

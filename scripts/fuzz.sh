#!/usr/bin/env bash
# Builds the fuzz targets of the host build with clang's libFuzzer and runs each for a while.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]      (default 600 s, every *_fuzz target)
# Each target starts from its seed corpus in tests/fuzz/corpus/<name>/ (kept crash-free in the
# repo) and grows a working corpus in build/fuzz/corpus/<name>/. Crashes land in build/fuzz/crashes/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-600}"; shift || true

SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
if ! command -v clang++ >/dev/null || ! echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long){return 0;}' \
     | clang++ -x c++ -fsanitize=fuzzer -o /dev/null - 2>/dev/null; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev
fi

dir="$root/build/fuzz"
if [ ! -f "$dir/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(cmake --build "$dir" --target help | sed -n 's/^\([a-z0-9_]*_fuzz\):.*/\1/p' | sort -u)
fi
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets"; exit 0; }
cmake --build "$dir" --target "${targets[@]}"

mkdir -p "$dir/crashes"
for t in "${targets[@]}"; do
  name="${t%_fuzz}"
  mkdir -p "$dir/corpus/$name"
  seeds="$root/tests/fuzz/corpus/$name"
  [ -d "$seeds" ] || seeds=""
  echo "== $t for $seconds s"
  exe="$(find "$dir" -name "$t" -type f -perm -u+x | head -1)"
  "$exe" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$dir/crashes/$name-" \
    "$dir/corpus/$name" ${seeds:+"$seeds"} 2>&1 | grep -E 'stat::number_of_executed_units|stat::peak_rss_mb|ERROR|SUMMARY|Done' || true
done
echo "crashes: $(ls "$dir/crashes" | wc -l)"

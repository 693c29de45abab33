# Sourced by the benchmarks (after scripts/platform.sh).
#
# corvane_bench_workspace: builds, picks the build this machine can run (sets build, w = its
# tree, dir = build/bench/<build>), sets up its Wine environment, enters dir and makes the
# benchmark product in files/ with the sample setup as Setup.exe.
corvane_bench_workspace() {
  "$root/scripts/build.sh" >/dev/null
  build=$(corvane_runnable_build)
  w="$root/build/$build"
  dir="$root/build/bench/$build"
  export CORVANE_BUILD_DIR="$w"
  source "$root/cmake/wine-env.sh"
  mkdir -p "$dir"
  cd "$dir"
  corvane_bench_product files
  cp "$w/tests/sample_setup.exe" Setup.exe
}

# corvane_bench_product DIR makes (once, marked by DIR.complete) the
# benchmark product: ~200 files of mixed text and binary, about 80 MB. Text: headers and documents
# (~25 MB); binary: shared libraries (~40 MB); incompressible: random bytes (~14 MB); topped up
# with library bytes.
corvane_bench_product() {  # directory
  local dir="$1"
  [ -f "$dir.complete" ] && return 0
  (
  cd "$(dirname "$dir")" || exit 1
  set -e
  echo "making the product (once)..." >&2
  rm -rf "$(basename "$dir")" && mkdir "$(basename "$dir")" && cd "$(basename "$dir")"
  n=0; total=0
  add() {  # file, budget: copies the file when it still fits the budget
    local size; size=$(stat -c %s "$1")
    if [ $((total + size)) -le "$2" ]; then
      cp "$1" "$(printf %03d $n)_$(basename "$1")"; n=$((n + 1)); total=$((total + size))
    fi
  }
  # Text: headers and documents (~25 MB); binary: shared libraries (~40 MB); incompressible:
  # random bytes (~14 MB).
  while IFS= read -r f; do add "$f" 25000000; done < <(find /usr/include /usr/share/doc -type f -size +20k \( -name '*.h' -o -name '*.txt' -o -name '*.html' \) | sort | head -110)
  while IFS= read -r f; do add "$f" 65000000; done < <(find /usr/lib/x86_64-linux-gnu -maxdepth 1 -name '*.so*' -type f -size +200k -size -3M | sort | head -70)
  for i in $(seq 1 20); do
    head -c 700000 /dev/urandom > "$(printf %03d $n)_random$i.bin"; n=$((n + 1)); total=$((total + 700000))
  done
  # Top up with library bytes to about 80 MB.
  if [ "$total" -lt 80000000 ]; then
    # (head ends the pipe early on purpose: the writers' broken pipe is not a failure)
    { find /usr/lib/x86_64-linux-gnu -type f -name '*.a' | sort | xargs cat 2>/dev/null || true; } \
      | head -c $((80000000 - total)) > "$(printf %03d $n)_tail.bin" || true
  fi
  touch "../$(basename "$dir").complete"
  )
}

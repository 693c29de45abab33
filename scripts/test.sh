#!/usr/bin/env bash
# Installs what is needed, builds the three builds and runs every test suite:
#   host  - the portable code's tests under AddressSanitizer/UBSan;
#   win32 - the shipped x86 build's tests under Wine, where this machine can execute 32-bit
#           programs (checked by running one; CORVANE_NO_WIN32=1 forces the skip);
#   win64 - the x64 build's tests under 64-bit Wine, always.
# Every Wine suite runs under one X display of its own (Xvfb). Fails when any suite that ran
# failed; the win32 build is built (and must build) even where its suite cannot run.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/platform.sh"

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

logs="$root/build/test-logs"
mkdir -p "$logs"
ran=() failed=() passed_total=0 failed_total=0

# suite name, command...: runs the suite with its output kept, counts its tests from CTest's
# closing line.
run_suite() {
  local name="$1"; shift
  echo "== $name tests"
  local status=0
  "$@" 2>&1 | tee "$logs/$name.log" || status=$?
  ran+=("$name")
  [ "$status" -eq 0 ] || failed+=("$name")
  local line
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$logs/$name.log" | tail -n 1 || true)
  if [ -n "$line" ]; then
    local bad all
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    all=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    passed_total=$((passed_total + all - bad)); failed_total=$((failed_total + bad))
  elif [ "$status" -ne 0 ]; then
    failed_total=$((failed_total + 1))  # the suite did not get as far as its tests
  fi
}

wine_suite() {  # build dir
  cd "$1" && CORVANE_BUILD_DIR="$1" xvfb-run -a -s "-screen 0 1024x768x24" ctest --output-on-failure
}

# Layers point downward only: cm (shared infrastructure) < catalogue (the product's packet
# classes) < diagnostics (the log) < bootstrap (the program). A layer includes none above it.
echo "== layering"
layering_ok=1
check_layer() {  # folder under src, pattern of the layers above it
  local upward
  if upward=$(grep -rlE "#include \"($2)/" "$root/src/$1"); then
    echo "layering: these files under src/$1 include a higher layer:"; echo "$upward"
    layering_ok=0
  fi
}
check_layer cm 'catalogue|diagnostics|bootstrap'
check_layer catalogue 'diagnostics|bootstrap'
check_layer diagnostics 'bootstrap'
if [ "$layering_ok" = 1 ]; then
  echo "layering: cm < catalogue < diagnostics < bootstrap, no include points upward"
else
  failed+=(layering)
fi

run_suite host bash -c "cd '$root/build/host' && ctest --output-on-failure -j '$(nproc)'"

if corvane_can_run_win32; then
  run_suite win32 wine_suite "$root/build/win32"
else
  echo "win32 tests skipped: this machine cannot execute 32-bit programs"
  skipped=win32
fi

run_suite win64 wine_suite "$root/build/win64"

echo "== summary: suites run: ${ran[*]}${skipped:+; skipped: $skipped}${failed:+; failed: ${failed[*]}}"
echo "$passed_total passed, $failed_total failed"
[ ${#failed[@]} -eq 0 ]

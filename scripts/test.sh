#!/usr/bin/env bash
# Installs what is needed, builds the three builds and runs every test suite:
#   host  - the portable code's tests under AddressSanitizer/UBSan;
#   win32 - the shipped x86 build's tests under Wine: here where this machine can execute 32-bit
#           programs (checked by running one), else inside an emulated machine that can
#           (scripts/win32-vm.sh); CORVANE_WIN32_EMULATED=1 takes the emulated machine anywhere,
#           CORVANE_NO_WIN32=1 skips them (for quick local runs);
#   win64 - the x64 build's tests under 64-bit Wine, always.
# Every Wine suite runs under one X display of its own (Xvfb). Fails when any suite that ran
# failed; the win32 build is built (and must build) even where its suite cannot run.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/platform.sh"

"$root/scripts/install-deps.sh"

# Where this kernel cannot execute 32-bit programs at all, the emulated machine's image (made once,
# mostly downloads and unpacking) is made while the builds compile.
image_job=""
if ! corvane_no_win32 && { corvane_win32_emulated || ! corvane_kernel_runs_32bit; }; then
  mkdir -p "$root/build/test-logs"
  "$root/scripts/win32-vm.sh" image > "$root/build/test-logs/x86vm-image.log" 2>&1 &
  image_job=$!
fi
"$root/scripts/build.sh"

logs="$root/build/test-logs"
mkdir -p "$logs"
ran=() failed=() passed_total=0 failed_total=0

# suite name, command...: runs the suite with its output kept, counts its tests from CTest's
# closing line. $suite_label, when set, names the suite in the summary.
run_suite() {
  local name="$1"; shift
  echo "== $name tests"
  local status=0
  "$@" 2>&1 | tee "$logs/$name.log" || status=$?
  ran+=("${suite_label:-$name}")
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

run_suite win64 wine_suite "$root/build/win64"

if corvane_no_win32; then
  echo "win32 tests skipped: CORVANE_NO_WIN32 is set"
  skipped=win32
elif ! corvane_win32_emulated && corvane_can_run_win32; then
  run_suite win32 wine_suite "$root/build/win32"
else
  corvane_win32_emulated || echo "this machine cannot execute 32-bit programs: the win32 suite runs in an emulated machine"
  if [ -n "$image_job" ] && ! wait "$image_job"; then
    cat "$root/build/test-logs/x86vm-image.log"
  fi
  suite_label="win32(emulated)" run_suite win32 "$root/scripts/win32-vm.sh" suite
fi

echo "== summary: suites run: ${ran[*]}${skipped:+; skipped: $skipped}${failed:+; failed: ${failed[*]}}"
echo "$passed_total passed, $failed_total failed"
[ ${#failed[@]} -eq 0 ]

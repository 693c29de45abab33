#!/usr/bin/env bash
# Time from a program's start to the wait dialog being up, against the least Win32 program that
# shows a window, side by side under one wineserver and one X display. Each program prints the
# system time at which its window is up; the script notes the time just before it starts it.
# Prints: BENCH wait_dialog_visible <ratio of medians> 1.5
#   bench/wait_dialog_bench.sh [WIN32_BUILD_DIR] [ROUNDS]   (default build/win32, 15 rounds)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build/win32}" && pwd)"
rounds="${2:-15}"
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build" "$rounds"
fi
export CORVANE_BUILD_DIR="$build"
source "$root/cmake/wine-env.sh"
"$root/cmake/wine-server.sh" start
trap '"$root/cmake/wine-server.sh" stop' EXIT

# Milliseconds from the launch to the printed time (FILETIME: 100 ns units since 1601).
run_ms() {
  local start shown
  start=$(date +%s%N)
  shown=$(wine "$1" </dev/null 2>/dev/null | tr -d '\r')
  echo "scale=3; (($shown - 116444736000000000) * 100 - $start) / 1000000" | bc
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

dialog=() plain=()
# One unmeasured run of each warms the caches.
run_ms "$build/bench/wait_dialog_visible.exe" >/dev/null
run_ms "$build/bench/plain_window_visible.exe" >/dev/null
for i in $(seq 1 "$rounds"); do
  dialog+=("$(run_ms "$build/bench/wait_dialog_visible.exe")")
  plain+=("$(run_ms "$build/bench/plain_window_visible.exe")")
done
d=$(printf '%s\n' "${dialog[@]}" | median)
p=$(printf '%s\n' "${plain[@]}" | median)
echo "wait dialog up after $d ms, plain window after $p ms (medians of $rounds)" >&2
echo "BENCH wait_dialog_visible $(echo "scale=2; $d / $p" | bc) 1.5"

#!/usr/bin/env bash
# Time from the bootstrap's start to its wait dialog being visible, against the least Win32
# program that shows a window, side by side under one wineserver and one X display. Both are
# timed alike from outside by window_watch.exe (process start to the first visible window of the
# class). The bootstrap carries a small package and a held decoder, so the dialog stays up until
# the watcher has seen it. The dialog alone (wait_dialog_visible.exe, no module start-up) is
# reported too, timed the same way.
# Prints: BENCH wait_dialog_visible[<build>] <ratio of medians> 1.5
#         BENCH wait_dialog_only_visible[<build>] <ratio of medians> -
#   bench/wait_dialog_bench.sh [WINDOWS_BUILD_DIR] [ROUNDS]
# (default: build/win32 where this machine can execute 32-bit programs, else build/win64; 15 rounds)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/platform.sh"
build="$(cd "${1:-$root/build/$(corvane_runnable_build)}" && pwd)"
rounds="${2:-15}"
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build" "$rounds"
fi
export CORVANE_BUILD_DIR="$build"
source "$root/cmake/wine-env.sh"
"$root/cmake/wine-server.sh" start
trap '"$root/cmake/wine-server.sh" stop' EXIT

dir="$build/bench/dialog"
mkdir -p "$dir"
cd "$dir"
cp "$build/tests/sample_setup.exe" Setup.exe
# The held decoder stands in for lzma.exe (the stub directory's decoder): the payload stays
# undecoded while the dialog is up; the runs are stopped once the dialog has been seen.
rm -rf stubs && mkdir stubs
cp "$build/bin/bootstrap.exe" stubs/
cp "$build/tests/held_decoder.exe" stubs/lzma.exe
arch=x86; [ "$(cat "$build/corvane-arch")" = win32 ] || arch=x64
"$root/build/host/bin/corvane-pack" build --quiet --setup Setup.exe --caption "Corvane Bench" --date 46000.5 \
  --arch "$arch" --stub-dir stubs -o bench_boot.exe
export CORVANE_SAMPLE_REPORT='Z:'"$(echo "$dir/report.txt" | tr / '\\')"

watch() { wine "$build/bench/window_watch.exe" "$1" "$2" </dev/null 2>/dev/null | tr -d '\r' | tail -n 1; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

boot=() alone=() plain=()
# One unmeasured run of each warms the caches.
watch ProgressWndClass bench_boot.exe >/dev/null
watch PlainWindow "$(winepath -w "$build/bench/plain_window_visible.exe")" >/dev/null
for i in $(seq 1 "$rounds"); do
  boot+=("$(watch ProgressWndClass bench_boot.exe)")
  alone+=("$(watch ProgressWndClass "$(winepath -w "$build/bench/wait_dialog_visible.exe")")")
  plain+=("$(watch PlainWindow "$(winepath -w "$build/bench/plain_window_visible.exe")")")
done
for v in "${boot[@]}" "${alone[@]}" "${plain[@]}"; do
  [ "$v" != "-1.000" ] || { echo "a window never showed" >&2; exit 1; }
done
b=$(printf '%s\n' "${boot[@]}" | median)
a=$(printf '%s\n' "${alone[@]}" | median)
p=$(printf '%s\n' "${plain[@]}" | median)
echo "bootstrap's wait dialog up after $b ms, dialog alone after $a ms, plain window after $p ms (medians of $rounds)" >&2
name=$(cat "$build/corvane-arch")
echo "BENCH wait_dialog_visible[$name] $(echo "scale=2; $b / $p" | bc) 1.5"
echo "BENCH wait_dialog_only_visible[$name] $(echo "scale=2; $a / $p" | bc) -"

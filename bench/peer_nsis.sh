#!/usr/bin/env bash
# The bootstrap against a peer installer that delivers the same product: an NSIS installer
# (Debian's nsis package, installed here when missing) holding the benchmark product's files and
# the same setup in one solid LZMA block with an 8 MiB dictionary, which unpacks them into its
# temporary plug-in directory, starts the setup with the bootstrap's switches, waits for it,
# hands its exit code on and removes the directory. Both are timed side by side in one run under
# one wineserver. NSIS makes 32-bit installers only: the timing needs a machine that can execute
# 32-bit programs, and says "skipped" elsewhere.
# Prints: BENCH bootstrap_vs_nsis[<build>] <median ratio> 1.0   (or BENCH bootstrap_vs_nsis skipped 1.0)
#   bench/peer_nsis.sh [ROUNDS]        (default 5)
#   bench/peer_nsis.sh --build-only    makes the peer installer (any machine) and prints its path
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/platform.sh"
build_only=0
if [ "${1:-}" = "--build-only" ]; then build_only=1; shift; fi
rounds="${1:-5}"

if [ "$build_only" = 0 ] && ! corvane_can_run_win32; then
  echo "peer_nsis: skipped: this machine cannot execute 32-bit programs (NSIS installers are 32-bit only)" >&2
  echo "BENCH bootstrap_vs_nsis skipped 1.0"
  exit 0
fi
# Both show a window: they need a display.
if [ "$build_only" = 0 ] && [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

if ! command -v makensis >/dev/null 2>&1; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends nsis
fi

source "$root/bench/bench_product.sh"
corvane_bench_workspace

# The peer: the same files and setup, the setup started as the bootstrap starts it.
caption="Corvane Bench"
{
  echo 'Unicode true'
  echo 'SetCompressor /SOLID lzma'
  echo 'SetCompressorDictSize 8'
  echo 'RequestExecutionLevel admin'
  echo "Name \"$caption\""
  echo 'OutFile "peer.exe"'
  # A progress window while unpacking, closed by itself (the bootstrap's wait dialog).
  echo 'AutoCloseWindow true'
  echo 'ShowInstDetails nevershow'
  echo 'Page instfiles'
  echo 'Section'
  echo '  InitPluginsDir'
  echo '  SetOutPath "$PLUGINSDIR"'
  for f in files/*; do
    echo "  File \"$f\""
  done
  echo '  File "Setup.exe"'
  echo "  ExecWait '\"\$PLUGINSDIR\\Setup.exe\" /installer_filename=\"\$EXEPATH\"  /ProductCaption=$caption' \$0"
  echo '  SetErrorLevel $0'
  echo '  SetOutPath "$TEMP"'
  echo 'SectionEnd'
} > peer.nsi
if [ ! -f peer.exe ] || [ peer.nsi -nt peer.exe ] || [ Setup.exe -nt peer.exe ]; then
  echo "making the NSIS peer (coding takes a minute or two)..." >&2
  makensis -V2 peer.nsi >&2
fi
if [ "$build_only" = 1 ]; then
  echo "$dir/peer.exe"
  exit 0
fi

pack="$w/bin/corvane-pack.exe"
arch=x86; [ "$build" = win32 ] || arch=x64
if [ ! -f bench.exe ] || [ "$w/bin/bootstrap.exe" -nt bench.exe ] || [ "$w/bin/lzma.exe" -nt bench.exe ] || [ "$pack" -nt bench.exe ]; then
  echo "packing (coding takes a minute or two)..." >&2
  wine "$pack" build --quiet --setup Setup.exe --files files --caption "$caption" --date 46000.5 --arch "$arch" \
    --package-out Setup.pak -o bench.exe
fi
cp "$w/tests/launch.exe" .

"$root/cmake/wine-server.sh" start
trap '"$root/cmake/wine-server.sh" stop' EXIT

now() { date +%s.%N; }
run() {  # program: its whole run in seconds, through the launcher
  local t0 t1
  sync
  t0=$(now); wine launch.exe "$1" </dev/null >/dev/null 2>launch.err; t1=$(now)
  grep -q 'exit code: 0' launch.err || { echo "$1 failed: $(cat launch.err)" >&2; exit 1; }
  awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}'
}
ratios=()
for i in $(seq 1 "$rounds"); do
  boot=$(run bench.exe); peer=$(run peer.exe)
  r=$(awk -v a="$boot" -v b="$peer" 'BEGIN {print a / b}')
  printf 'round %d: bootstrap %.2f s, NSIS %.2f s, ratio %.3f\n' "$i" "$boot" "$peer" "$r" >&2
  ratios+=("$r")
done
median=$(printf '%s\n' "${ratios[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
printf 'BENCH bootstrap_vs_nsis[%s] %.3f 1.0\n' "$build" "$median"

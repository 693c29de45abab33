#!/usr/bin/env bash
# Builds both builds incrementally into build/: build/win32 (mingw-w64, i686) and build/host
# (native, sanitizers). Installs nothing: scripts/install-deps.sh does that.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="${JOBS:-$(nproc)}"

configure() {  # dir, extra args...
  local dir="$1"; shift
  if [ ! -f "$root/build/$dir/build.ninja" ]; then
    cmake -S "$root" -B "$root/build/$dir" -G Ninja "$@"
  fi
}

configure win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake"
configure host
cmake --build "$root/build/win32" -j "$jobs"
cmake --build "$root/build/host" -j "$jobs"

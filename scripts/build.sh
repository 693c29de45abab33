#!/usr/bin/env bash
# Builds the three builds incrementally into build/: build/win32 (mingw-w64 i686, the shipped
# program), build/win64 (mingw-w64 x86_64, its sibling) and build/host (native, sanitizers).
# Installs nothing: scripts/install-deps.sh does that. Uses ccache where it is installed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="${JOBS:-$(nproc)}"

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

configure() {  # dir, extra args...
  local dir="$1"; shift
  if [ ! -f "$root/build/$dir/build.ninja" ]; then
    cmake -S "$root" -B "$root/build/$dir" -G Ninja "${launcher[@]}" "$@"
  fi
}

configure win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake"
configure win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake"
configure host
for dir in win32 win64 host; do
  cmake --build "$root/build/$dir" -j "$jobs"
done

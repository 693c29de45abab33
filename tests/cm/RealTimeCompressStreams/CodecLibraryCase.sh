#!/usr/bin/env bash
# Runs one case of the compress-stream test program from a directory of its own, holding a copy of
# the program and only the codec libraries given (none: no MiniLZO.dll beside it or in the working
# directory). CORVANE_CODEC_CASE tells the program which case it is run for.
# Usage: CodecLibraryCase.sh <test.exe> <scratch dir> <case> [library.dll...]
set -eu
exe="$1"
dir="$2"
case="$3"
shift 3
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
rm -rf "$dir"
mkdir -p "$dir"
cp "$exe" "$dir/"
for dll in "$@"; do cp "$dll" "$dir/"; done
cd "$dir"
CORVANE_CODEC_CASE="$case" "$here/../../../cmake/wine-run.sh" "./$(basename "$exe")" \
  --gtest_filter="CodecLoading.$case" --gtest_color=no

#!/usr/bin/env bash
# The Windows corvane-packet under Wine prints for the golden packet files what the host's does:
# the expected dumps beside this script, which the host test checks its own output against.
# Standard output of a Windows console program ends its lines with CR LF; the text is compared
# without the CRs.
#   corvane_packet_wine_test.sh CORVANE_PACKET_EXE GOLDEN_DIR EXPECTED_DIR
set -uo pipefail
exe="$1" golden="$2" expected="$3"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
run="$here/../../cmake/wine-run.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
# file|option|expected dump
for c in "setup_packet_compressed.bin||setup_packet_compressed.txt" \
         "setup_packet_compact.bin|--json|setup_packet_compact.json"; do
  IFS='|' read -r file option want <<<"$c"
  # The golden directory as the current one: a relative name means the same file to Wine.
  # shellcheck disable=SC2086
  (cd "$golden" && "$run" "$exe" dump "$file" $option </dev/null >"$work/out" 2>"$work/err")
  rc=$?
  if [ "$rc" != 0 ]; then
    echo "FAIL: $file: exit code $rc: $(cat "$work/err")"; failures=$((failures + 1)); continue
  fi
  if ! tr -d '\r' <"$work/out" | cmp -s - "$expected/$want"; then
    echo "FAIL: $file: the output differs from $want:"
    tr -d '\r' <"$work/out" | diff "$expected/$want" - | head -20
    failures=$((failures + 1))
  fi
done
# A truncated file: one error line, exit code 1, nothing on standard output.
head -c 100 "$golden/setup_packet_compact.bin" >"$work/cut.bin"
(cd "$work" && "$run" "$exe" dump cut.bin </dev/null >"$work/out" 2>"$work/err")
rc=$?
[ "$rc" = 1 ] || { echo "FAIL: truncated file: exit code $rc"; failures=$((failures + 1)); }
[ ! -s "$work/out" ] && [ "$(tr -d '\r' <"$work/err" | wc -l)" = 1 ] ||
  { echo "FAIL: truncated file: $(cat "$work/out" "$work/err")"; failures=$((failures + 1)); }
[ "$failures" = 0 ] && echo "corvane-packet under Wine: as expected"
exit $((failures > 0))

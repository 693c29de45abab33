#!/usr/bin/env bash
# corvane-pack across platforms, run under Wine in a Windows build tree:
#  - a bootstrap packed by the Linux packer (the host build beside this tree) runs its setup
#    with the command line and product caption, coded and stored;
#  - the Windows packer of this tree, under Wine, makes the same bytes from the same inputs;
#  - a packed bootstrap signed afterwards with osslsigncode (a throw-away certificate made here)
#    verifies, and still runs its setup.
#   pack_cross_test.sh WINDOWS_BUILD_DIR
set -uo pipefail
build="$(cd "$1" && pwd)"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
host_pack="$(dirname "$build")/host/bin/corvane-pack"
if [ ! -x "$host_pack" ]; then
  echo "SKIPPED: no host build with corvane-pack beside $build"
  exit 77
fi
export CORVANE_BUILD_DIR="$build"
source "$here/../../cmake/wine-env.sh"
arch=x86; [ "$CORVANE_WINE_ARCH" = win32 ] || arch=x64
work="$build/tests/pack_cross.work"
rm -rf "$work" && mkdir -p "$work/stubs" "$work/product/docs" && cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cp "$build/bin/bootstrap.exe" "$build/bin/lzma.exe" stubs/
cp "$build/tests/sample_setup.exe" Setup.exe
cp "$build/tests/launch.exe" .
printf 'CORVANE CROSS\r\n' > product/readme.txt
head -c 300000 /dev/urandom > product/docs/random.bin
for i in $(seq 1 40); do printf 'line %d\n' $(seq 1 $((i * 50))) > "product/docs/text$i.txt"; done
args=(build --quiet --setup Setup.exe --files product --caption "Corvane Cross" --date 46000.5 --arch "$arch" --stub-dir stubs)

export CORVANE_SAMPLE_REPORT='Z:'"$(echo "$work/report.txt" | tr / '\\')"
# run EXE: runs the bootstrap through the launcher; the setup's command line in $cmdline, the exit code in $code.
run() {
  rm -f report.txt
  "$CORVANE_WINE" launch.exe "$1" /exit=7 </dev/null >/dev/null 2>launch.err
  code=$(sed -n 's/.*exit code: \(-*[0-9]*\).*/\1/p' launch.err)
  cmdline=$(sed -n 's/^cmdline=//p' report.txt 2>/dev/null | tr -d '\r')
}

for form in coded stored; do
  extra=(); [ $form = stored ] && extra=(--stored)
  "$host_pack" "${args[@]}" "${extra[@]}" -o "linux-$form.exe" || fail "the Linux packer failed ($form)"
  run "linux-$form.exe"
  [ "$code" = 7 ] || fail "$form: bootstrap exit code '$code' ($(cat launch.err))"
  case "$cmdline" in *"/installer_filename="*" /exit=7 /ProductCaption=\"Corvane Cross\"") ;; *) fail "$form: the setup received '$cmdline'";; esac
  "$CORVANE_WINE" "$build/bin/corvane-pack.exe" "${args[@]}" "${extra[@]}" -o "windows-$form.exe" </dev/null >/dev/null 2>pack.err \
    || fail "the Windows packer failed ($form): $(cat pack.err)"
  cmp -s "linux-$form.exe" "windows-$form.exe" || fail "$form: the Linux and the Windows packer made different bytes"
  "$host_pack" "${args[@]}" "${extra[@]}" -o "again-$form.exe"
  cmp -s "linux-$form.exe" "again-$form.exe" || fail "$form: two runs made different bytes"
done

# Signing comes after packing.
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=Corvane Test Signing" >/dev/null 2>&1 \
  || fail "no throw-away certificate"
osslsigncode sign -certs cert.pem -key key.pem -n "Corvane Setup" -in linux-coded.exe -out signed.exe >sign.log 2>&1 \
  || fail "signing failed: $(cat sign.log)"
osslsigncode verify -CAfile cert.pem -in signed.exe >verify.log 2>&1 || fail "the signature does not verify: $(tail -3 verify.log)"
run signed.exe
[ "$code" = 7 ] || fail "the signed bootstrap: exit code '$code' ($(cat launch.err))"
case "$cmdline" in *"/ProductCaption=\"Corvane Cross\"") ;; *) fail "the signed bootstrap's setup received '$cmdline'";; esac
"$host_pack" verify signed.exe >/dev/null || fail "verify refused the signed bootstrap"

[ $failures = 0 ] && echo "all cross-platform packing checks passed"
exit $((failures != 0))

#!/usr/bin/env bash
# corvane-pack on the host, against the stubs of a sibling Windows tree (build/win32 or
# build/win64): bad inputs give one error line, a non-zero exit code and no file; the same
# inputs give the same bytes; the payload is what the lzma tool makes of the package; verify
# finds a damaged payload; a signed stub is refused.
#   corvane_pack_test.sh HOST_BUILD_DIR
set -uo pipefail
host="$(cd "$1" && pwd)"
pack="$host/bin/corvane-pack"
build_root="$(dirname "$host")"
stubs="" arch=""
for tree in win32:x86 win64:x64; do
  if [ -z "$stubs" ] && [ -f "$build_root/${tree%%:*}/bin/bootstrap.exe" ] && [ -f "$build_root/${tree%%:*}/bin/lzma.exe" ]; then
    stubs="$build_root/${tree%%:*}/bin"; arch="${tree##*:}"
  fi
done
if [ -z "$stubs" ]; then
  echo "SKIPPED: no Windows tree with stubs beside $host (build win32 or win64 first)"
  exit 77
fi
setup="$build_root/${stubs#$build_root/}"; setup="${setup%/bin}/tests/sample_setup.exe"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

mkdir -p product/docs
printf 'readme\r\n' > product/readme.txt
head -c 100000 /dev/urandom > product/docs/data.bin
cp "$setup" Setup.exe
common=(--setup Setup.exe --files product --caption "Corvane Test" --arch "$arch" --stub-dir "$stubs" --quiet)

# --- Bad input: one line on stderr, the exit code, no output and nothing else left behind ---
printf 'not a program' > notpe.exe
mkdir -p colon case device
printf x > 'colon/bad:name.txt'
printf x > case/A.txt; printf x > case/a.txt
printf x > device/con.txt
mkdir -p big && truncate -s 900M big/huge.bin
mkdir -p signed
cp "$stubs/lzma.exe" signed/
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=Corvane Test" >/dev/null 2>&1
osslsigncode sign -certs cert.pem -key key.pem -in "$stubs/bootstrap.exe" -out signed/bootstrap.exe >/dev/null
# name|expected exit code|expected message (a fixed string)|arguments...
cases=(
  "not a PE|1|corvane-pack: setup 'notpe.exe' is not a Windows executable (no valid PE header)|--setup notpe.exe --caption C --arch $arch --stub-dir $stubs"
  "missing setup|1|corvane-pack: cannot read 'missing.exe': No such file or directory|--setup missing.exe --caption C --arch $arch --stub-dir $stubs"
  "setup is a directory|1|corvane-pack: cannot read 'product': it is a directory|--setup product --caption C --arch $arch --stub-dir $stubs"
  "missing files|1|corvane-pack: cannot read 'nowhere': not a directory|--setup Setup.exe --files nowhere --caption C --arch $arch --stub-dir $stubs"
  "unwritable output|1|corvane-pack: cannot create 'nodir/out.exe': No such file or directory|--setup Setup.exe --caption C --arch $arch --stub-dir $stubs -o nodir/out.exe"
  "output is a directory|1|corvane-pack: cannot create 'product': it is a directory|--setup Setup.exe --caption C --arch $arch --stub-dir $stubs -o product"
  "package copy path unwritable|1|corvane-pack: cannot create 'nodir/Setup.pak.pak-part-|--setup Setup.exe --caption C --arch $arch --stub-dir $stubs --package-out nodir/Setup.pak"
  "name with a colon|1|corvane-pack: cannot pack file 'bad:name.txt': it holds the character ':'|--setup Setup.exe --files colon --caption C --arch $arch --stub-dir $stubs"
  "names differing in case|1|corvane-pack: cannot pack file 'a.txt': another file has the same name but for case|--setup Setup.exe --files case --caption C --arch $arch --stub-dir $stubs"
  "device name|1|corvane-pack: cannot pack file 'con.txt': 'con.txt' is a device name on Windows|--setup Setup.exe --files device --caption C --arch $arch --stub-dir $stubs"
  "beyond the x86 ceiling|1|corvane-pack: the product (|--setup Setup.exe --files big --caption C --arch x86 --stub-dir $build_root/win32/bin"
  "no product information|1|corvane-pack: the product information is missing: give --caption or --info|--setup Setup.exe --arch $arch --stub-dir $stubs"
  "signed stub|1|corvane-pack: cannot pack stub 'signed/bootstrap.exe': The image is signed: the signature would no longer match. Use the unsigned image and sign the result.|--setup Setup.exe --caption C --arch $arch --stub-dir signed"
  "no stub|1|corvane-pack: cannot read 'product/bootstrap.exe': No such file or directory|--setup Setup.exe --caption C --arch $arch --stub-dir product"
  "unknown option|2|corvane-pack: unknown option '--fast' (see corvane-pack --help)|--setup Setup.exe --fast"
  "bad arch|2|corvane-pack: --arch is x86 or x64, not 'arm' (see corvane-pack --help)|--setup Setup.exe --arch arm"
  "bad date|2|corvane-pack: --date needs a number of days since 30 December 1899, not 'today' (see corvane-pack --help)|--setup Setup.exe --date today"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name code message args <<<"$c"
  if [ "$name" = "beyond the x86 ceiling" ] && [ ! -f "$build_root/win32/bin/bootstrap.exe" ]; then
    echo "(no x86 stubs: '$name' skipped)"; continue
  fi
  before=$(ls -A | sort)
  # shellcheck disable=SC2086
  "$pack" build $args 2>err.txt >/dev/null
  rc=$?
  after=$(ls -A | grep -v '^err.txt$' | sort)
  [ "$rc" = "$code" ] || fail "$name: exit code $rc, expected $code"
  [ "$(wc -l <err.txt)" = 1 ] || fail "$name: not one line: $(cat err.txt)"
  case "$(cat err.txt)" in "$message"*) ;; *) fail "$name: message '$(cat err.txt)', expected '$message'";; esac
  [ "$before" = "$after" ] || fail "$name: files left: $(comm -13 <(echo "$before") <(echo "$after") | tr '\n' ' ')"
  rm -f err.txt
done
# The ceiling message names the way out.
if [ -f "$build_root/win32/bin/bootstrap.exe" ]; then
  out="$("$pack" build --setup Setup.exe --files big --caption C --arch x86 --stub-dir "$build_root/win32/bin" 2>&1)"
  case "$out" in *"--arch x64") ;; *) fail "the x86 ceiling's message does not name --arch x64: $out";; esac
fi
# An interrupted build (Ctrl-C, a cancelled CI job) leaves no temporary file behind.
mkdir -p slow && head -c 40000000 /dev/urandom > slow/random.bin
for signal in INT TERM; do
  before=$(ls -A | sort)
  "$pack" build --setup Setup.exe --files slow --caption C --arch "$arch" --stub-dir "$stubs" --quiet -o slow.exe 2>/dev/null &
  packer=$!
  for _ in $(seq 1 200); do compgen -G 'slow.exe.pak-part-*' >/dev/null && break; sleep 0.05; done
  compgen -G 'slow.exe.pak-part-*' >/dev/null || fail "SIG$signal: the build did not start its package"
  kill -s "$signal" "$packer"
  wait "$packer"; rc=$?
  [ "$rc" != 0 ] || fail "SIG$signal: the interrupted build exited with 0"
  after=$(ls -A | sort)
  [ "$before" = "$after" ] || fail "SIG$signal: files left: $(comm -13 <(echo "$before") <(echo "$after") | tr '\n' ' ')"
done
rm -rf slow

# A failed build leaves an existing output as it was.
printf 'previous' > keep.exe
"$pack" build --setup notpe.exe --caption C --arch "$arch" --stub-dir "$stubs" -o keep.exe 2>/dev/null
[ "$(cat keep.exe)" = previous ] || fail "a failed build changed the existing output"

# --- Reproducible bytes ---
"$pack" build "${common[@]}" --date 46000.5 -o one.exe || fail "pack one"
touch -d '2001-02-03' product/readme.txt Setup.exe
cp -r product product2 && rm -rf product && mkdir product && cp product2/docs -r product/ && cp product2/readme.txt product/ && rm -rf product2
"$pack" build "${common[@]}" --date 46000.5 -o two.exe || fail "pack two"
cmp -s one.exe two.exe || fail "the same inputs (other times, other creation order) gave other bytes"
SOURCE_DATE_EPOCH=1700000000 "$pack" build "${common[@]}" -o epoch1.exe || fail "pack epoch"
touch product/readme.txt
SOURCE_DATE_EPOCH=1700000000 "$pack" build "${common[@]}" --date-from-epoch -o epoch2.exe || fail "pack epoch 2"
cmp -s epoch1.exe epoch2.exe || fail "SOURCE_DATE_EPOCH did not fix the bytes"
"$pack" inspect --json epoch1.exe | grep -q '"date": "2023-11-14 22:13:20"' || fail "SOURCE_DATE_EPOCH 1700000000 is not the package date: $("$pack" inspect --json epoch1.exe | grep date)"
"$pack" build "${common[@]}" -o newest.exe
"$pack" inspect --json newest.exe | grep -q "\"date\": \"$(date -u -r product/readme.txt '+%Y-%m-%d %H:%M:%S')\"" \
  || fail "without a date the newest input's time is the package date"
env -u SOURCE_DATE_EPOCH "$pack" build "${common[@]}" --date-from-epoch -o x.exe 2>err.txt
[ $? = 1 ] && grep -q 'SOURCE_DATE_EPOCH is not set' err.txt && [ ! -e x.exe ] || fail "--date-from-epoch without SOURCE_DATE_EPOCH"

# --- The payload codes the package with the lzma tool's settings and stream form (its header is
# the tool's: properties and known size) and the tool decodes it; the integrity record matches ---
"$pack" build "${common[@]}" --date 46000.5 --package-out Setup.pak -o coded.exe || fail "pack coded"
"$host/bin/lzma" e Setup.pak Setup.lzma
json="$("$pack" inspect --json coded.exe)"
payload_offset=$(echo "$json" | sed -n 's/.*"name": "1000".*"size": \([0-9]*\), "offset": \([0-9]*\).*/\2/p')
payload_size=$(echo "$json" | sed -n 's/.*"name": "1000".*"size": \([0-9]*\), "offset": \([0-9]*\).*/\1/p')
tail -c +$((payload_offset + 1)) coded.exe | head -c "$payload_size" > payload.bin
cmp -s <(head -c 13 payload.bin) <(head -c 13 Setup.lzma) || fail "the payload's header is not the one 'lzma e' writes for the package"
"$host/bin/lzma" d payload.bin decoded.pak && cmp -s decoded.pak Setup.pak || fail "the lzma tool does not decode the payload to the package"
echo "$json" | grep -q "\"sha256\": \"$(sha256sum payload.bin | cut -d' ' -f1)\"" || fail "the integrity record is not the payload's SHA-256"
"$pack" verify coded.exe >/dev/null || fail "verify refused a good bootstrap"
"$pack" build "${common[@]}" --stored --date 46000.5 -o stored.exe || fail "pack stored"
"$pack" verify stored.exe >/dev/null || fail "verify refused a good stored bootstrap"

# --- verify finds one damaged byte anywhere in the payload ---
for at in 20 $((payload_size / 2)) $((payload_size - 1)); do
  cp coded.exe damaged.exe
  printf '\xA5' | dd of=damaged.exe bs=1 seek=$((payload_offset + at)) conv=notrunc status=none
  out="$("$pack" verify damaged.exe)"; rc=$?
  [ $rc = 1 ] || fail "verify passed a payload damaged at $at"
  echo "$out" | grep -q 'Setup package is damaged: checksum mismatch.' || fail "verify at $at: $out"
done

[ $failures = 0 ] && echo "all corvane-pack host checks passed"
exit $((failures != 0))

#!/usr/bin/env bash
# The lzma tool end to end: round trips, the header it writes, streams with and without the end
# marker, and the failures (each: its exit code, one line on stderr, no output file left).
#
#   lzma_tool_test.sh LZMA_TOOL [WIN32]
# WIN32 = ON runs the tool (lzma.exe) under Wine; every path handed to it is then relative to the
# work directory, which lies in the build tree.
set -u

tool=$1
win32=${2:-OFF}
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
work="$PWD/lzma_tool_test.work"
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# run ARGS...: runs the tool; exit code in $rc, its stdout and stderr (CR dropped) in out.txt / err.txt.
run() {
  if [ "$win32" = ON ]; then
    "$here/../../cmake/wine-run.sh" "$tool" "$@" >out.txt 2>err.raw </dev/null
  else
    "$tool" "$@" >out.txt 2>err.raw </dev/null
  fi
  rc=$?
  tr -d '\r' <err.raw >err.txt
}

# expect_ok NAME ARGS...: success is exit code 0 and silence.
expect_ok() {
  local name=$1; shift
  run "$@"
  if [ "$rc" -ne 0 ] || [ -s out.txt ] || [ -s err.txt ]; then
    fail "$name: exit $rc, stdout '$(cat out.txt)', stderr '$(cat err.txt)'"
    return 1
  fi
}

# le64 FILE OFFSET: the little-endian uint64 at OFFSET, in decimal (all ones prints -1).
le64() {
  local hex
  hex=$(od -An -tx1 -j "$2" -N 8 "$1" | tr -d ' \n' | sed 's/../& /g' | awk '{for (i = NF; i > 0; i--) printf "%s", $i}')
  if [ "$hex" = ffffffffffffffff ]; then echo -1; else echo $((16#$hex)); fi
}
le32() {
  local hex
  hex=$(od -An -tx1 -j "$2" -N 4 "$1" | tr -d ' \n' | sed 's/../& /g' | awk '{for (i = NF; i > 0; i--) printf "%s", $i}')
  echo $((16#$hex))
}
byte_at() { od -An -tx1 -j "$2" -N 1 "$1" | tr -d ' \n'; }

# put_le64 FILE OFFSET VALUE: overwrites the uint64 size field in place.
put_le64() {
  local hex esc="" i
  hex=$(printf '%016x' "$3")
  for i in 14 12 10 8 6 4 2 0; do esc+="\\x${hex:$i:2}"; done
  printf "$esc" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
# put_bytes FILE OFFSET ESCAPES: overwrites bytes in place (ESCAPES as printf '\xHH...').
put_bytes() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
size_of() { stat -c %s "$1"; }

# --- Fixtures: empty, one byte, compressible text, incompressible random data ---
: >empty.bin
printf 'A' >one.bin
seq 1 20000 | sed 's/$/ the quick brown fox/' >text.bin
head -c 1048576 /dev/urandom >random.bin

# --- Round trips, with the size in the header and with the end marker ---
for f in empty one text random; do
  modes="known eos"
  [ $f = random ] && modes=known # the end marker's path is the same for any data; save the time
  for mode in $modes; do
    packed=$f.$mode.lz
    if [ $mode = eos ]; then
      expect_ok "encode $f -eos" e -eos $f.bin $packed || continue
    else
      expect_ok "encode $f" e $f.bin $packed || continue
    fi
    expect_ok "decode $packed" d $packed $f.$mode.out || continue
    cmp -s $f.bin $f.$mode.out || fail "round trip of $f ($mode size) differs"

    [ "$(byte_at $packed 0)" = 5d ] || fail "$packed: properties byte $(byte_at $packed 0), expected 5d"
    dict=$(le32 $packed 1)
    { [ "$dict" -ge 4096 ] && [ "$dict" -le 8388608 ]; } || fail "$packed: dictionary size $dict"
    want=$(size_of $f.bin); [ $mode = eos ] && want=-1
    [ "$(le64 $packed 5)" = "$want" ] || fail "$packed: size field $(le64 $packed 5), expected $want"
  done
done
[ "$(size_of text.known.lz)" -lt $(($(size_of text.bin) / 10)) ] || fail "text did not compress: $(size_of text.known.lz) bytes"

# An independent decoder reads what we write, and we read its end-marker stream (skipped without xz).
if command -v xz >/dev/null; then
  xz --format=lzma -dc text.known.lz | cmp -s - text.bin || fail "xz does not decode our text.known.lz"
  xz --format=lzma -c text.bin >text.xz.lz
  expect_ok "decode xz's stream" d text.xz.lz text.xz.out && { cmp -s text.bin text.xz.out || fail "xz stream decoded wrong"; }
fi

# --- Streams decoded as documented ---
text_size=$(size_of text.bin)
# Bytes after the end of the stream are ignored.
cp text.known.lz trailing.lz && printf 'trailing bytes\n' >>trailing.lz
# A known size with the end marker right after it is a valid stream.
cp text.eos.lz sized_eos.lz && put_le64 sized_eos.lz 5 "$text_size"
for f in trailing sized_eos; do
  expect_ok "decode $f.lz" d $f.lz $f.out && { cmp -s text.bin $f.out || fail "$f.lz decoded wrong"; }
done

# --- Damaged streams and bad command lines ---
packed_size=$(size_of text.known.lz)
eos_size=$(size_of text.eos.lz)
head -c $((packed_size - 10)) text.known.lz >cut_tail.lz
head -c $((packed_size / 2)) text.known.lz >cut_half.lz
head -c 13 text.known.lz >header_only.lz
head -c 7 text.known.lz >cut_header.lz
head -c $((eos_size - 3)) text.eos.lz >cut_eos.lz
cp text.known.lz corrupt.lz && put_bytes corrupt.lz $((packed_size / 2)) '\xff\x00\x55\xaa'
cp text.known.lz bad_props.lz && put_bytes bad_props.lz 0 '\xe1'
cp text.eos.lz mark_early.lz && put_le64 mark_early.lz 5 $((text_size + 1))
cp text.known.lz size_short.lz && put_le64 size_short.lz 5 $((text_size - 1))
mkdir -p a_directory

# name | exit code | output file that must not exist afterwards | stderr line (glob) | arguments
cases=(
  "truncated tail|1|x.out|lzma: unexpected end of input|d cut_tail.lz x.out"
  "truncated to half|1|x.out|lzma: unexpected end of input|d cut_half.lz x.out"
  "header without data|1|x.out|lzma: unexpected end of input|d header_only.lz x.out"
  "truncated header|1|x.out|lzma: unexpected end of input|d cut_header.lz x.out"
  "end marker cut off|1|x.out|lzma: unexpected end of input|d cut_eos.lz x.out"
  "corrupt data|1|x.out|lzma: data error*|d corrupt.lz x.out"
  "properties byte 0xE1|1|x.out|lzma: invalid header*|d bad_props.lz x.out"
  "end marker before the size|1|x.out|lzma: data error*|d mark_early.lz x.out"
  "size field short of the data|1|x.out|lzma: data error*|d size_short.lz x.out"
  "missing input (decode)|1|x.out|lzma: cannot open input file 'missing.lz'|d missing.lz x.out"
  "missing input (encode)|1|x.out|lzma: cannot open input file 'missing.bin'|e missing.bin x.out"
  "output is a directory (encode)|1|x.out|lzma: cannot create output file 'a_directory'|e text.bin a_directory"
  "output is a directory (decode)|1|x.out|lzma: cannot create output file 'a_directory'|d text.known.lz a_directory"
  "no arguments|2|x.out|usage: *|"
  "unknown command|2|x.out|lzma: unknown command 'x'*|x text.bin x.out"
  "missing output name|2|x.out|usage: *|e text.bin"
  "extra argument|2|x.out|usage: *|d text.known.lz x.out y.out"
  "-eos with d|2|x.out|lzma: unknown option '-eos'*|d -eos text.eos.lz x.out"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name want_rc outfile want_err args <<<"$c"
  read -ra argv <<<"$args"
  rm -f "$outfile"
  run "${argv[@]}"
  [ "$rc" -eq "$want_rc" ] || fail "$name: exit $rc, expected $want_rc"
  [ "$(wc -l <err.txt)" -eq 1 ] || fail "$name: stderr is not one line: '$(cat err.txt)'"
  # shellcheck disable=SC2053 # want_err is a glob
  [[ "$(cat err.txt)" == $want_err ]] || fail "$name: stderr '$(cat err.txt)', expected '$want_err'"
  [ -s out.txt ] && fail "$name: wrote to stdout"
  [ -e "$outfile" ] && fail "$name: left $outfile behind"
done
[ -d a_directory ] || fail "the directory given as output is gone"

# A failure before the output is created leaves an existing file of that name alone; a failure
# while decoding removes what it wrote.
printf 'keep me' >existing.out
run d missing.lz existing.out
[ "$rc" -eq 1 ] && [ "$(cat existing.out)" = "keep me" ] || fail "missing input touched existing.out"
run d cut_half.lz existing.out
[ "$rc" -eq 1 ] && [ ! -e existing.out ] || fail "a failed decode left existing.out"

if [ $failures -ne 0 ]; then
  echo "$failures failure(s); files kept in $work"
  exit 1
fi
cd .. && rm -rf "$work"
echo "lzma tool: all checks passed"

#!/usr/bin/env bash
# Installs what is needed, builds, packs a sample product into a bootstrap and runs it under
# Wine: prints what the started setup received and the bootstrap's exit code. Runs the x86
# bootstrap (the shipped one) where this machine can execute 32-bit programs, the x64 one
# otherwise, and says which.
#   scripts/demo.sh [ARGUMENTS FOR THE BOOTSTRAP...]     (default: /silent /exit=7)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/platform.sh"
"$root/scripts/install-deps.sh" >/dev/null
"$root/scripts/build.sh" >/dev/null

build=$(corvane_runnable_build)
if [ "$build" = win32 ]; then
  echo "build: win32 (the x86 bootstrap)"
else
  echo "build: win64 (the x64 bootstrap: this machine cannot execute 32-bit programs)"
fi
w="$root/build/$build"
demo="$w/demo"
export CORVANE_BUILD_DIR="$w"
source "$root/cmake/wine-env.sh"
mkdir -p "$demo"
cd "$demo"

# The sample product: product information, a few files and the setup program.
cp "$w/tests/sample_setup.exe" Setup.exe
rm -rf files && mkdir files
printf 'CORVANE SAMPLE PACKAGE\r\n' > files/readme.txt
head -c 200000 /usr/share/common-licenses/GPL-3 > files/licence.txt 2>/dev/null || true
arch=x86; [ "$build" = win32 ] || arch=x64
# The Linux packer, with the stub and lzma.exe of the build's tree (its default stub directory).
"$root/build/host/bin/corvane-pack" build --setup Setup.exe --files files --caption "Corvane Demo" \
  --date 46000.5 --arch "$arch" -o CorvaneSetup.exe
"$root/build/host/bin/corvane-pack" verify CorvaneSetup.exe
echo "packed: $demo/CorvaneSetup.exe ($(stat -c %s CorvaneSetup.exe) bytes)"
cp "$w/tests/launch.exe" .

args=("$@")
[ ${#args[@]} -gt 0 ] || args=(/silent /exit=7)
rm -f report.txt
export CORVANE_SAMPLE_REPORT='Z:'"$(echo "$demo/report.txt" | tr / '\\')"
echo "running: CorvaneSetup.exe ${args[*]}"
xvfb-run -a -s "-screen 0 1024x768x24" "$CORVANE_WINE" launch.exe CorvaneSetup.exe "${args[@]}" 2>launch.err || true
echo "the setup received: $(sed -n 's/^cmdline=//p' report.txt 2>/dev/null || echo '(setup did not run)')"
echo "bootstrap $(grep -a 'exit code' launch.err || cat launch.err)"

#!/usr/bin/env bash
# Installs what is needed, builds both builds and runs every test: the host build's tests under
# AddressSanitizer/UBSan, then the win32 build's tests under Wine with an X display from Xvfb.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

echo "== host tests (sanitizers)"
(cd "$root/build/host" && ctest --output-on-failure -j "$(nproc)")

echo "== win32 tests (Wine)"
# One display for the whole run: Wine's desktop process binds to the display it first sees.
(cd "$root/build/win32" && CORVANE_BUILD_DIR="$root/build/win32" \
  xvfb-run -a -s "-screen 0 1024x768x24" ctest --output-on-failure)

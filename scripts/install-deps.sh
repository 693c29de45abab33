#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine.
# Idempotent: packages already present are left alone. Must run as root (or with sudo available).
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  cmake ninja-build g++ make googletest libgtest-dev
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 ccache
  wine wine32:i386 wine64 fonts-wine
  xvfb xauth x11-utils imagemagick bc
  lzma-dev libssl-dev osslsigncode xz-utils
  nlohmann-json3-dev
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
echo "install-deps: all packages present"

# Sources installed from the npm registry into build/deps (git-ignored, never committed):
#   lzo - its bundled minilzo sources make MiniLZO.dll (src/codecs/minilzo). Scripts are ignored:
#         the package's own install step builds a Node binding we do not use.
REPO_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DEPS_DIR="$REPO_DIR/build/deps"
LZO_NPM_VERSION=0.4.11
if ! command -v npm >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends nodejs npm
fi
if [ "$(node -p "try{require('$DEPS_DIR/node_modules/lzo/package.json').version}catch(e){''}" 2>/dev/null)" != "$LZO_NPM_VERSION" ]; then
  mkdir -p "$DEPS_DIR"
  npm install --prefix "$DEPS_DIR" --ignore-scripts --no-audit --no-fund --loglevel=error "lzo@$LZO_NPM_VERSION"
fi
echo "install-deps: npm sources present in $DEPS_DIR"

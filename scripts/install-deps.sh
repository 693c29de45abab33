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
source "$REPO_DIR/scripts/platform.sh"
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

# Sources from Debian's source archive into build/deps/7zip (git-ignored, never committed):
#   7zip - the LZMA SDK's C sources of a current release. The packer's encoder is built from
#          them: they carry the multithreaded match finder (LzFindMt.c, Threads.c) that the
#          lzma-dev package (9.22) lacks. The bootstrap's own lzma tool stays on lzma-dev.
# The source side of the machine's own Debian archive is used (the URIs its apt sources already
# name, main component, through a private list: the system's apt configuration is not touched).
# apt checks the downloaded files against the archive's signed index.
SEVENZIP_DIR="$DEPS_DIR/7zip"
if [ ! -f "$SEVENZIP_DIR/C/LzFindMt.c" ]; then
  if ! command -v apt-get >/dev/null 2>&1; then
    echo "install-deps: apt-get is needed to fetch Debian's 7zip sources" >&2; exit 1
  fi
  apt_dir="$(mktemp -d)"
  trap 'rm -rf "$apt_dir"' EXIT
  mkdir -p "$apt_dir/sources" "$apt_dir/lists/partial" "$apt_dir/download"
  suite="$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")"
  uris="$(corvane_debian_uris "$suite")"
  [ -n "$uris" ] || { echo "install-deps: no Debian archive found in the apt sources" >&2; exit 1; }
  for uri in $uris; do
    printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n\n' \
      "$uri" "$suite" >> "$apt_dir/sources/7zip.sources"
  done
  # The private directories belong to the caller: apt's download user would be refused there.
  apt_options=(-o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$apt_dir/sources" -o "Dir::State::Lists=$apt_dir/lists"
               -o "APT::Sandbox::User=$(id -un)")
  apt-get "${apt_options[@]}" -qq update
  (cd "$apt_dir/download" && apt-get "${apt_options[@]}" -qq source --download-only 7zip)
  orig="$(ls "$apt_dir"/download/7zip_*.orig.tar.* 2>/dev/null | head -n 1)"
  [ -n "$orig" ] || { echo "install-deps: Debian's 7zip sources could not be fetched" >&2; exit 1; }
  rm -rf "$SEVENZIP_DIR.part" && mkdir -p "$SEVENZIP_DIR.part"
  tar -xf "$orig" -C "$SEVENZIP_DIR.part" --strip-components=1
  [ -f "$SEVENZIP_DIR.part/C/LzFindMt.c" ] || { echo "install-deps: $orig holds no C/LzFindMt.c" >&2; exit 1; }
  basename "$orig" > "$SEVENZIP_DIR.part/DEBIAN-SOURCE"
  rm -rf "$SEVENZIP_DIR" && mv "$SEVENZIP_DIR.part" "$SEVENZIP_DIR"
  rm -rf "$apt_dir"; trap - EXIT
fi
echo "install-deps: 7zip sources present in $SEVENZIP_DIR ($(cat "$SEVENZIP_DIR/DEBIAN-SOURCE"))"

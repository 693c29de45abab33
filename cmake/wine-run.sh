#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's private prefix, with the loader that fits
# the build (see wine-env.sh). WINEPREFIX defaults to <build>/wineprefix, found from
# CORVANE_BUILD_DIR or the current directory.
set -eu
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/wine-env.sh"
exec "$CORVANE_WINE" "$@"

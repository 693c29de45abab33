# Sourced by the Wine helper scripts, the demo and the benchmarks: exports the build tree's private
# prefix, picks the Wine loader that fits the build, and makes the prefix on first use.
#
# The build's architecture comes from <build>/corvane-arch (written by CMake: win32 or win64), or
# from CORVANE_WINE_ARCH. A win64 build runs on the 64-bit loader called directly, with
# WINELOADER pointing at it: Debian's `wine` wrapper always tries the 32-bit loader first, which
# fails with "Exec format error" on kernels that cannot execute 32-bit programs. After sourcing,
# `wine`, `winepath` and `wineboot` are shell functions that use the chosen loader, and
# CORVANE_WINE holds its path for `exec`.
: "${CORVANE_BUILD_DIR:=$(pwd)}"
export WINEPREFIX="${WINEPREFIX:-$CORVANE_BUILD_DIR/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

if [ -z "${CORVANE_WINE_ARCH:-}" ] && [ -f "$CORVANE_BUILD_DIR/corvane-arch" ]; then
  CORVANE_WINE_ARCH="$(cat "$CORVANE_BUILD_DIR/corvane-arch")"
fi
export CORVANE_WINE_ARCH="${CORVANE_WINE_ARCH:-win32}"
if [ "$CORVANE_WINE_ARCH" = win64 ]; then
  CORVANE_WINE=/usr/lib/wine/wine64
  export WINELOADER="$CORVANE_WINE"
else
  CORVANE_WINE="$(command -v wine || echo /usr/bin/wine)"
fi
wine() { "$CORVANE_WINE" "$@"; }
winepath() { "$CORVANE_WINE" winepath.exe "$@"; }
wineboot() { "$CORVANE_WINE" wineboot.exe "$@"; }

# Returns non-zero when the loader cannot make the prefix (a 32-bit loader on a kernel without
# IA-32 emulation): nothing is marked ready then, so a later call tries again.
corvane_make_prefix() {
  [ -f "$WINEPREFIX/.corvane-ready-2" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.corvane-ready-2" ]; then
      # wineboot can report failure on a loaded (or emulated) machine with the prefix made all
      # the same: the prefix's own files decide.
      wineboot -i </dev/null >/dev/null 2>&1 ||
        { [ -f "$WINEPREFIX/system.reg" ] && [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ]; } || exit 1
      # No crash dialog (a crash under a display would wait on it forever), no window manager frames.
      wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
      wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
      # No debugger either: an unhandled exception ends the process at once instead of waiting.
      for view in 32 64; do
        wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f /reg:$view </dev/null >/dev/null 2>&1 || true
      done
      mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
      cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
      wineserver -w </dev/null >/dev/null 2>&1 || true
      touch "$WINEPREFIX/.corvane-ready-2"
    fi
  ) 9>"$WINEPREFIX.lock"
}
corvane_make_prefix || true

# Sourced by the Wine helper scripts: exports the private prefix and makes it on first use.
: "${CORVANE_BUILD_DIR:=$(pwd)}"
export WINEPREFIX="${WINEPREFIX:-$CORVANE_BUILD_DIR/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

corvane_make_prefix() {
  [ -f "$WINEPREFIX/.corvane-ready-2" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.corvane-ready-2" ]; then
      wineboot -i </dev/null >/dev/null 2>&1 || true
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
corvane_make_prefix

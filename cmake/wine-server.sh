#!/usr/bin/env bash
# start: keeps one wineserver alive for the test run (each Wine process then starts in milliseconds).
# stop:  ends it and waits until it is gone.
set -u
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/wine-env.sh"
case "${1:-}" in
  start)
    if ! wineserver -p </dev/null >/dev/null 2>&1; then
      wineserver -k </dev/null >/dev/null 2>&1; wineserver -w </dev/null >/dev/null 2>&1
      wineserver -p </dev/null >/dev/null 2>&1
    fi
    wine cmd /c exit 0 </dev/null >/dev/null 2>&1
    exit 0 ;;
  stop)
    wineserver -k </dev/null >/dev/null 2>&1; wineserver -w </dev/null >/dev/null 2>&1
    exit 0 ;;
  *) echo "usage: wine-server.sh start|stop" >&2; exit 2 ;;
esac

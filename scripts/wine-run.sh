#!/usr/bin/env bash
# Runs a Windows program under 32-bit Wine in the project's own prefix, never ~/.wine.
# The prefix is ZV_WINEPREFIX, or build/wineprefix of the checkout when unset.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export WINEPREFIX="${ZV_WINEPREFIX:-$here/../build/wineprefix}"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

if [ ! -f "$WINEPREFIX/.zv-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/.zv-ready" ]; then
    wine wineboot --init 9>&- >/dev/null 2>&1 </dev/null || true
    wineserver -w 9>&- || true
    touch "$WINEPREFIX/.zv-ready"
  fi
  exec 9>&-
fi
# A persistent server started with its stdio on /dev/null: a server started by the program itself
# would hold the caller's pipes open and stall ctest.
wineserver -p600 >/dev/null 2>&1 </dev/null || true
exec wine "$@"

#!/usr/bin/env bash
# Runs a Windows program under 32-bit Wine in the project's own prefix, never ~/.wine.
# The prefix is ZV_WINEPREFIX, or build/wineprefix of the checkout when unset.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export WINEPREFIX="$(realpath -m "${ZV_WINEPREFIX:-$here/../build/wineprefix}")"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

mkdir -p "$(dirname "$WINEPREFIX")"
# One caller at a time creates the prefix and starts the server and Wine's services, all with their
# stdio on /dev/null and without the lock: a service started by the program itself would inherit the
# caller's pipes and keep the caller (ctest) waiting after the program ends.
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/.zv-ready" ]; then
  wine wineboot --init 9>&- >/dev/null 2>&1 </dev/null || true
  wineserver -w 9>&- >/dev/null 2>&1 </dev/null || true
  touch "$WINEPREFIX/.zv-ready"
fi
if wineserver -p600 9>&- >/dev/null 2>&1 </dev/null; then
  wine wineboot 9>&- >/dev/null 2>&1 </dev/null || true
fi
exec 9>&-
exec wine "$@"

#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix, never ~/.wine. The executable's
# PE machine type picks the Wine: 32-bit Wine and a win32 prefix for i386, 64-bit Wine and a win64
# prefix for x86-64. A first argument that is not a file (a Wine builtin such as `reg`) runs in the
# prefix's own architecture (ZV_WINEARCH, else what the prefix was created as, else win64).
# The prefix is ZV_WINEPREFIX, or build/win32/wineprefix or build/win64/wineprefix of the checkout.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ $# -gt 0 ] || { echo "usage: wine-run.sh PROGRAM [ARGUMENTS...]" >&2; exit 2; }

# The machine field of a PE image: 014c i386, 8664 x86-64; empty when the file is not one.
pe_machine() {
  local offset
  offset=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ') || return 0
  [ -n "$offset" ] || return 0
  [ "$(od -An -c -j "$offset" -N 2 "$1" 2>/dev/null | tr -d ' ')" = "PE" ] || return 0
  od -An -t x2 -j $((offset + 4)) -N 2 "$1" | tr -d ' '
}

arch="${ZV_WINEARCH:-}"
if [ -z "$arch" ] && [ -f "$1" ]; then
  case "$(pe_machine "$1")" in
    014c) arch=win32 ;;
    8664) arch=win64 ;;
    *) echo "wine-run: $1 is not a 32-bit or 64-bit Windows executable" >&2; exit 2 ;;
  esac
fi
if [ -z "$arch" ] && [ -n "${ZV_WINEPREFIX:-}" ] && [ -f "$ZV_WINEPREFIX/system.reg" ]; then
  grep -q '^#arch=win32' "$ZV_WINEPREFIX/system.reg" && arch=win32 || arch=win64
fi
arch="${arch:-win64}"

export WINEPREFIX="$(realpath -m "${ZV_WINEPREFIX:-$here/../build/$arch/wineprefix}")"
export WINEARCH="$arch"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ "$arch" = win32 ]; then
  wine=/usr/lib/wine/wine
  export WINESERVER=/usr/lib/wine/wineserver32
else
  wine=/usr/lib/wine/wine64
  export WINESERVER=/usr/lib/wine/wineserver64
fi
export WINELOADER="$wine"

# Wine that cannot start (no 32-bit execution on this machine, Wine not installed) stops here with
# its own message, before any prefix is made.
if ! version_error="$("$wine" --version 2>&1 >/dev/null)"; then
  echo "wine-run: $wine cannot run on this machine: ${version_error:-not installed}" >&2
  if [ "$arch" = win32 ]; then
    echo "wine-run: this machine does not execute 32-bit programs; use the 64-bit build (build/win64)." >&2
  else
    echo "wine-run: install Wine with scripts/setup.sh." >&2
  fi
  exit 126
fi
if [ -f "$WINEPREFIX/system.reg" ] && ! grep -q "^#arch=$arch" "$WINEPREFIX/system.reg"; then
  echo "wine-run: $WINEPREFIX is not a $arch prefix; a $arch program needs a prefix of its own" >&2
  exit 2
fi

mkdir -p "$(dirname "$WINEPREFIX")"
# One caller at a time creates the prefix and starts the server and Wine's services, all with their
# stdio away from the caller and without the lock: a service started by the program itself would
# inherit the caller's pipes and keep the caller (ctest) waiting after the program ends.
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/.zv-ready" ]; then
  echo "wine-run: creating the $arch Wine prefix $WINEPREFIX (once; a minute or two)" >&2
  log="$(mktemp)"
  # wineboot's status is no guide: a win64 prefix on a machine without 32-bit execution reports its
  # syswow64 part as failed although the prefix works. The registry files are.
  "$wine" wineboot --init 9>&- >"$log" 2>&1 </dev/null || true
  "$WINESERVER" -w 9>&- >/dev/null 2>&1 </dev/null || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-run: Wine could not create the prefix:" >&2
    tail -n 20 "$log" >&2
    rm -f "$log"
    exit 1
  fi
  rm -f "$log"
  touch "$WINEPREFIX/.zv-ready"
fi
if "$WINESERVER" -p600 9>&- >/dev/null 2>&1 </dev/null; then
  "$wine" wineboot 9>&- >/dev/null 2>&1 </dev/null || true
fi
exec 9>&-
exec "$wine" "$@"

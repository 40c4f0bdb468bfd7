#!/usr/bin/env bash
# Seeds a Wine prefix with the demo's sample autostart entries, at least one of every kind zvscan
# reports, by running zvseed.exe in it (the entries and their files: host/zvseed.cpp). Idempotent:
# a second run changes nothing that is there and puts back what a repair removed.
#   scripts/seed-demo.sh [BUILD_DIR]     (default build/win32 where 32-bit programs run, else
#                                         build/win64; it holds bin/zvseed.exe)
# The prefix is ZV_WINEPREFIX, or BUILD_DIR/demo-prefix. Never ~/.wine.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/arch.sh"
if [ $# -gt 0 ]; then
  build="$1"
elif zv_runs_win32; then
  build="$root/build/win32"
else
  build="$root/build/win64"
fi
export ZV_WINEPREFIX="${ZV_WINEPREFIX:-$build/demo-prefix}"
if [ "$(realpath -m "$ZV_WINEPREFIX")" = "$(realpath -m "${HOME:-/root}/.wine")" ]; then
  echo "seed-demo: refusing to seed ~/.wine" >&2
  exit 2
fi
"$root/scripts/wine-run.sh" "$build/bin/zvseed.exe" seed
touch "$ZV_WINEPREFIX/.zv-seeded"

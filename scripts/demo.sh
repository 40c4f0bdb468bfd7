#!/usr/bin/env bash
# Installs what is missing, builds, and runs zvscan under Wine on the project's demo prefix, never on
# ~/.wine: the 32-bit build where this machine executes 32-bit programs, else the 64-bit one. The
# prefix (build/ARCH/demo-prefix, created once) is seeded once, again when the seeding helper
# changes, with sample autostart entries of every kind: scripts/seed-demo.sh.
# Extra arguments go to zvscan.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/arch.sh"
step() { echo "demo: $*" >&2; }

step "checking the packages the build needs"
"$root/scripts/setup.sh"
if zv_runs_win32; then
  arch=win32
else
  arch=win64
  step "using the 64-bit build: $ZV_WIN32_REASON"
fi
build="$root/build/$arch"
step "building $arch in build/$arch"
"$root/scripts/build.sh" "$arch" >&2
export ZV_WINEPREFIX="$build/demo-prefix"
if [ ! -f "$ZV_WINEPREFIX/.zv-seeded" ] || [ "$build/bin/zvseed.exe" -nt "$ZV_WINEPREFIX/.zv-seeded" ]; then
  step "seeding $ZV_WINEPREFIX with sample autostart entries"
  "$root/scripts/seed-demo.sh" "$build"
fi
step "scanning $ZV_WINEPREFIX; the seeded entries name ZvDemo, Zv Demo or C:\\ZvDemo, Wine's own come with them"
exec "$root/scripts/wine-run.sh" "$build/bin/zvscan.exe" "$@"

#!/usr/bin/env bash
# Installs what is missing, builds, and runs zvscan under Wine on the project's demo prefix
# (build/demo-prefix, created once), never on ~/.wine. The prefix is seeded once (again when the
# seeding helper changes) with sample autostart entries of every kind: scripts/seed-demo.sh.
# Extra arguments go to zvscan.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
export ZV_WINEPREFIX="$root/build/demo-prefix"
if [ ! -f "$ZV_WINEPREFIX/.zv-seeded" ] || [ "$root/build/bin/zvseed.exe" -nt "$ZV_WINEPREFIX/.zv-seeded" ]; then
  echo "demo: seeding $ZV_WINEPREFIX with sample autostart entries" >&2
  "$root/scripts/seed-demo.sh" "$root/build"
fi
echo "demo: the seeded entries name ZvDemo, Zv Demo or C:\\ZvDemo; Wine's own entries come with them" >&2
exec "$root/scripts/wine-run.sh" "$root/build/bin/zvscan.exe" "$@"

#!/usr/bin/env bash
# Installs what is missing, builds, and runs zvscan under Wine on the project's demo prefix
# (build/demo-prefix, created once), never on ~/.wine. Extra arguments go to zvscan.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
export ZV_WINEPREFIX="$root/build/demo-prefix"
"$root/scripts/wine-run.sh" "$root/build/bin/zvscan.exe" "$@" | tr -d '\r'

#!/usr/bin/env bash
# Unpacks the real hives (../shared/hives from the repository root) into BUILD/real-hives and, where
# Debian's hive tools are installed, writes what hivexregedit --export reads from them beside them,
# for the tests that compare the offline registry with an independent reader. Without xz or the
# hives nothing is unpacked and those tests skip, saying why; without hivexregedit, only the
# comparisons skip.
#   tests/scripts/real_hives.sh BUILD
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source_dir="$root/../shared/hives"
out="$1/real-hives"
rm -rf "$out"
mkdir -p "$out"
if ! command -v xz >/dev/null || [ ! -d "$source_dir" ]; then
  echo "real_hives: xz or $source_dir is missing; the real-hive tests will skip" >&2
  exit 0
fi
for file in "$source_dir"/*.xz; do xz -dc "$file" > "$out/$(basename "$file" .xz)"; done
if ! command -v hivexregedit >/dev/null; then
  echo "real_hives: hivexregedit is missing (scripts/setup.sh installs it); the comparisons will skip" >&2
  exit 0
fi
hivexregedit --export "$out/SYSTEM_B" '\ControlSet001\Services' > "$out/SYSTEM_B.services.reg"
hivexregedit --export "$out/SYSTEM_B" '\Select' > "$out/SYSTEM_B.select.reg"
hivexregedit --export "$out/SOFTWARE_NT4" '\' > "$out/SOFTWARE_NT4.reg"
hivexregedit --export "$out/SYSTEM_NT4" '\' > "$out/SYSTEM_NT4.reg"
hivexregedit --export "$out/NTUSER_WIN7.DAT" '\' > "$out/NTUSER_WIN7.DAT.reg"
echo "real_hives: unpacked and exported into $out" >&2

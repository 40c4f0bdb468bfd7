#!/usr/bin/env bash
# zvscan repair on a prefix seeded with the demo's entries (ZV_WINEPREFIX), checked against registry
# exports taken before and after: --dry-run and a declined confirmation change nothing, byte for byte;
# a request naming rundll32.exe is refused with S_FALSE and changes nothing; --yes on one seeded Run
# value removes exactly that value. The prefix is seeded again at the end, which puts the value back.
#   repair.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
build="$1"
: "${ZV_WINEPREFIX:?set ZV_WINEPREFIX to the golden prefix}"
work="$(mktemp -d "$build/zvscan-repair.XXXXXX")"
trap '"$root/scripts/seed-demo.sh" "$build" >/dev/null; rm -rf "$work"' EXIT

wine_run() { "$root/scripts/wine-run.sh" "$@"; }
zvscan() { wine_run "$build/bin/zvscan.exe" "$@" 2>>"$work/stderr"; }
fail() { echo "repair: $*" >&2; exit 1; }
# The whole registry as reg.exe exports it, in UTF-8 text ($1.HKLM.txt, $1.HKEY_USERS.txt); HKEY_CLASSES_ROOT
# lives in HKLM. Without the display-driver keys that Wine's desktop process writes under fresh GUIDs
# whenever it starts without an X server: they are Wine's, not the scan's.
export_registry() {
  local root_key
  for root_key in HKLM HKEY_USERS; do
    wine_run reg export "$root_key" "Z:${work//\//\\}\\$1.$root_key.reg" /y >/dev/null
    iconv -f UTF-16LE -t UTF-8 "$work/$1.$root_key.reg" | tr -d '\r' |
      awk '/^\[/ { skip = index($0, "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Video") == 1 } !skip' \
        >"$work/$1.$root_key.txt"
  done
}
same_registry() { cmp -s "$work/$1.HKLM.txt" "$work/$2.HKLM.txt" && cmp -s "$work/$1.HKEY_USERS.txt" "$work/$2.HKEY_USERS.txt"; }
# What differs between two exports, for a failure's message.
registry_changes() {
  diff "$work/$1.HKLM.txt" "$work/$2.HKLM.txt" | head -n 20 || true
  diff "$work/$1.HKEY_USERS.txt" "$work/$2.HKEY_USERS.txt" | head -n 20 || true
}
# A seeded item's field, unescaped from its JSON line.
field() { grep -F "$1" "$work/scan.jsonl" | sed "s/.*\"$2\":\"\\{0,1\\}\\([^\",]*\\).*/\\1/" | sed 's/\\\\/\\/g'; }

zvscan --format json >"$work/scan.jsonl"
updater="$(field '[ZvDemoUpdater]' location)"
updater_index="$(field '[ZvDemoUpdater]' index)"
helper="$(field '[ZvDemoHelper]' location)"
[ -n "$updater" ] && [ -n "$updater_index" ] && [ -n "$helper" ] || fail "the seeded Run values are not in the scan"

export_registry before
zvscan repair --dry-run --id 0x10101015 --location "$updater" >"$work/dry.out" || fail "dry run by location failed"
grep -qF "$updater" "$work/dry.out" || fail "the dry run does not show the item"
grep -q "Dry run: nothing was changed." "$work/dry.out" || fail "the dry run does not say that nothing changed"
zvscan repair --dry-run --index "$updater_index" >"$work/dry-index.out" || fail "dry run by index failed"
grep -qF "$updater" "$work/dry-index.out" || fail "the index does not select the item the listing showed"
if echo n | zvscan repair --id 0x10101015 --location "$updater" >/dev/null; then fail "a declined repair succeeded"; fi
if zvscan repair --yes --id 0x1010100E --location "$helper" >"$work/helper.out"; then fail "rundll32 was repaired"; fi
grep -q "S_FALSE (0x00000001): not repaired: .*rundll32.exe is a known system host program" "$work/helper.out" ||
  fail "the refusal is not explained: $(cat "$work/helper.out")"
export_registry untouched
same_registry before untouched ||
  fail "dry run, declined or refused repairs changed the registry: $(registry_changes before untouched)"

zvscan repair --yes --id 0x10101015 --location "$updater" >"$work/yes.out" || fail "the repair failed: $(cat "$work/yes.out")"
grep -qF "$updater: S_OK (0x00000000): repaired" "$work/yes.out" || fail "no S_OK reported: $(cat "$work/yes.out")"
export_registry repaired
cmp -s "$work/before.HKLM.txt" "$work/repaired.HKLM.txt" || fail "HKEY_LOCAL_MACHINE changed: $(registry_changes before repaired)"
diff "$work/before.HKEY_USERS.txt" "$work/repaired.HKEY_USERS.txt" | grep '^[<>]' >"$work/changes.txt" || true
[ "$(wc -l <"$work/changes.txt")" -eq 1 ] && grep -q '^< "ZvDemoUpdater"=' "$work/changes.txt" ||
  fail "the repair did not remove exactly the Updater value: $(cat "$work/changes.txt")"
if zvscan repair --yes --id 0x10101015 --location "$updater" >/dev/null; then fail "a repaired value was found again"; fi
echo "repair: dry run, refusal and repair checked"

#!/usr/bin/env bash
# zvscan repair on a prefix seeded with the demo's entries (ZV_WINEPREFIX), checked against registry
# exports taken before and after: a dry run gives the verdict and the exit status of the real run (a
# repairable item, an item without repair, a request naming rundll32.exe) and changes nothing, byte
# for byte, nor does a declined confirmation; the dry run and the prompt say what a repair changes
# (AppInit_DLLs cleared with the other library in it), and a repair that leaves everything as it was
# (Shell already explorer.exe) says that nothing changed; a key selects the same entry after another entry came
# before it, while the old position with that key selects nothing; input methods of two hives name
# their hives; --yes on one seeded Run value removes exactly that value, after which its old position
# is refused. The prefix is seeded again at the end, which puts the value back.
#   repair.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
build="$1"
: "${ZV_WINEPREFIX:?set ZV_WINEPREFIX to the golden prefix}"
work="$(mktemp -d "$build/zvscan-repair.XXXXXX")"
run_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run'
default_layout='HKEY_USERS\.Default\Keyboard Layout'
name=repair
source "$here/prefix.sh"
# What the test adds goes again; the seeding puts back what a repair removed.
cleanup() {
  wine_run reg delete "$run_key" /v ZvDemoAdded /f >/dev/null 2>&1 || true
  [ -e "$work/default-layout-existed" ] || wine_run reg delete "$default_layout" /f >/dev/null 2>&1 || true
  "$root/scripts/seed-demo.sh" "$build" >/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A seeded item's field, unescaped from its JSON line in the given scan.
field() { grep -F "$1" "$work/$3.jsonl" | sed "s/.*\"$2\":\"\\{0,1\\}\\([^\",]*\\).*/\\1/" | sed 's/\\\\/\\/g'; }
# Runs zvscan, keeping its stdout in FILE and its exit status in status.
run_to() {
  local out="$1"
  shift
  status=0
  zvscan "$@" >"$work/$out" || status=$?
}
# expect STATUS PATTERN WHAT ARGS...: zvscan ARGS exits with STATUS and writes a line matching PATTERN.
expect() {
  local wanted="$1" pattern="$2" what="$3"
  shift 3
  run_to "$what.out" "$@"
  [ "$status" -eq "$wanted" ] && grep -q -- "$pattern" "$work/$what.out" ||
    fail "$what: status $status, $(cat "$work/$what.out")"
}

zvscan --format json >"$work/scan.jsonl"
updater="$(field '[ZvDemoUpdater]' location scan)"
updater_index="$(field '[ZvDemoUpdater]' index scan)"
updater_key="$(field '[ZvDemoUpdater]' key scan)"
helper_key="$(field '[ZvDemoHelper]' key scan)"
bho_key="$(field 'zvdemobho.dll' key scan)"
appinit_key="$(field '[AppInit_DLLs]' key scan)"
shell_key="$(field '"id":"0x1010100A"' key scan)"
[ -n "$updater" ] && [ -n "$updater_index" ] && [ -n "$updater_key" ] && [ -n "$helper_key" ] && [ -n "$bho_key" ] &&
  [ -n "$appinit_key" ] && [ -n "$shell_key" ] ||
  fail "the seeded entries are not in the scan"
if wine_run reg query "$default_layout" >/dev/null 2>&1; then touch "$work/default-layout-existed"; fi

export_registry before
# Dry run and real run agree, verdict and exit status.
expect 0 "dry run: would repair" "the dry run of a repairable item" repair --dry-run --key "$updater_key"
grep -qF "$updater" "$work/the dry run of a repairable item.out" || fail "the dry run does not show the item"
grep -q "Dry run: nothing was changed." "$work/the dry run of a repairable item.out" ||
  fail "the dry run does not say that nothing changed"
expect 0 "dry run: would repair" "the dry run by location" repair --dry-run --id 0x10101015 --location "$updater"
no_repair="not repaired: this location has no repair"
expect 1 "dry run: E_NOTIMPL: $no_repair" "the dry run of an item without repair" repair --dry-run --key "$bho_key"
expect 1 "E_NOTIMPL (0x80004001): $no_repair" "the real run of an item without repair" repair --yes --key "$bho_key"
refusal="not repaired: the request named .*rundll32.exe, a known system host program, .*--file PATH names another file"
expect 1 "dry run: S_FALSE: $refusal" "the dry run of a rundll32 entry" repair --dry-run --key "$helper_key"
expect 1 "S_FALSE (0x00000001): $refusal" "the real run of a rundll32 entry" repair --yes --key "$helper_key"
# What a repair changes beyond its entry is told before it runs: in the dry run and at the prompt.
expect 0 'dry run: would repair: clears AppInit_DLLs (also removes C:\\ZvDemo\\zvdemohook2.dll)' \
  "the dry run of the AppInit_DLLs item" repair --dry-run --key "$appinit_key"
if echo n | zvscan repair --key "$appinit_key" >"$work/declined.out"; then fail "a declined repair succeeded"; fi
grep -qF 'the repair clears AppInit_DLLs (also removes C:\ZvDemo\zvdemohook2.dll)' "$work/declined.out" ||
  fail "the confirmation does not say what the repair changes: $(cat "$work/declined.out")"
expect 0 "dry run: would repair: deletes value ZvDemoUpdater of key HKEY_USERS" "the dry run of a Run value" \
  repair --dry-run --key "$updater_key"
expect 0 "dry run: would repair: restores Shell to explorer.exe (it holds that already: nothing will change)" \
  "the dry run of a Shell that is explorer.exe" repair --dry-run --key "$shell_key"
# A repair that leaves the state as it was says that nothing changed.
expect 0 "\[Shell\]: S_OK (0x00000000): repaired; nothing changed: the state after the repair is the state before it" \
  "the repair of a Shell that is explorer.exe" repair --yes --key "$shell_key"
run_to index-alone.out repair --yes --index "$updater_index"
[ "$status" -eq 2 ] || fail "repair --index without the listed key was not refused: status $status"
if echo n | zvscan repair --key "$updater_key" >/dev/null; then fail "a declined repair succeeded"; fi
export_registry untouched
same_registry before untouched ||
  fail "dry runs, declined or refused repairs changed the registry: $(registry_changes before untouched)"

# Another entry before the Updater value, and an input method in a second hive.
wine_run reg add "$run_key" /v ZvDemoAdded /d 'C:\ZvDemo\added.exe' /f >/dev/null
wine_run reg add "$default_layout\\Preload" /v 1 /d E0200409 /f >/dev/null
zvscan --format json >"$work/shifted.jsonl"
[ "$(field '[ZvDemoUpdater]' key shifted)" = "$updater_key" ] || fail "the Updater value's key changed"
[ "$(field '[ZvDemoUpdater]' index shifted)" != "$updater_index" ] || fail "no position shifted"
zvscan --format json --key "$updater_key" >"$work/by-key.jsonl"
[ "$(grep -c "\"location\":" "$work/by-key.jsonl")" -eq 1 ] && grep -qF '[ZvDemoUpdater]' "$work/by-key.jsonl" ||
  fail "--key does not select the Updater value after the shift: $(cat "$work/by-key.jsonl")"
run_to shifted.out repair --yes --index "$updater_index" --key "$updater_key"
[ "$status" -eq 1 ] && grep -q "no item of the .* scanned matched --index $updater_index --key $updater_key" "$work/stderr" ||
  fail "the old position with the key selected something: status $status"
hives="$(grep '"layout_id":"E0200409"' "$work/shifted.jsonl" | sed 's/.*"hive":"\([^"]*\)".*/\1/' | sort -u)"
[ "$(echo "$hives" | wc -l)" -eq 2 ] && echo "$hives" | grep -qx '.Default' ||
  fail "the input methods of two hives do not name them: $hives"
wine_run reg delete "$run_key" /v ZvDemoAdded /f >/dev/null
[ -e "$work/default-layout-existed" ] || wine_run reg delete "$default_layout" /f >/dev/null

expect 0 "\[ZvDemoUpdater\]: S_OK (0x00000000): repaired" "the repair" repair --yes --key "$updater_key"
export_registry repaired
cmp -s "$work/before.HKLM.txt" "$work/repaired.HKLM.txt" || fail "HKEY_LOCAL_MACHINE changed: $(registry_changes before repaired)"
diff "$work/before.HKEY_USERS.txt" "$work/repaired.HKEY_USERS.txt" | grep '^[<>]' >"$work/changes.txt" || true
[ "$(wc -l <"$work/changes.txt")" -eq 1 ] && grep -q '^< "ZvDemoUpdater"=' "$work/changes.txt" ||
  fail "the repair did not remove exactly the Updater value: $(cat "$work/changes.txt")"
if zvscan repair --yes --id 0x10101015 --location "$updater" >/dev/null; then fail "a repaired value was found again"; fi
# The position the listing showed now holds another entry.
run_to again.out repair --yes --index "$updater_index" --key "$updater_key"
[ "$status" -eq 1 ] || fail "repair --index of the repaired item's position was not refused: status $status"
export_registry after
same_registry repaired after ||
  fail "a repair of a position that shifted changed the registry: $(registry_changes repaired after)"
echo "repair: dry runs, refusals, keys, hives and repair checked"

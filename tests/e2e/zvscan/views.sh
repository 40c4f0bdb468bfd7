#!/usr/bin/env bash
# Both registry views of the 64-bit golden prefix (ZV_WINEPREFIX) through both builds: a native HKLM
# Run value, a WOW64 one written by the 32-bit reg.exe, a 32-bit-only CLSID with a browser helper
# object under Wow6432Node, and a user's Run value the views share; each view alone gives its half;
# repair and undo of the WOW64 value change only Wow6432Node; a diff after adding a WOW64 value
# reports exactly that one. Needs a machine that executes 32-bit programs and the win32 build beside
# the win64 one; otherwise says why and exits 77 (skipped).
#   views.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
build="$1"
name=views
: "${ZV_WINEPREFIX:?set ZV_WINEPREFIX to the golden prefix}"
source "$root/scripts/arch.sh"
skip() { echo "$name: skipped: $*"; exit 77; }
[ "$(basename "$build")" = win64 ] || skip "a 32-bit prefix has one registry view"
zv_runs_win32 || skip "$ZV_WIN32_REASON"
[ -x "$root/build/win32/bin/zvscan.exe" ] || skip "the win32 build (build/win32/bin/zvscan.exe) is not there"
work="$(mktemp -d)"
source "$here/prefix.sh"

machine_run='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
user_run='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
reg32='C:\windows\syswow64\reg.exe'
clsid='{7E3A9C41-5B2D-4F60-8A17-3C9D0E4B6F28}'
helpers='HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\Browser Helper Objects'
bho_file="$ZV_WINEPREFIX/drive_c/windows/syswow64/zvviewbho.dll"
cleanup() {
  wine_run reg delete "$machine_run" /v ZvViewNative /f >/dev/null 2>&1 || true
  wine_run "$reg32" delete "$machine_run" /v ZvViewWow /f >/dev/null 2>&1 || true
  wine_run "$reg32" delete "$machine_run" /v ZvViewWowAdded /f >/dev/null 2>&1 || true
  wine_run "$reg32" delete "$helpers\\$clsid" /f >/dev/null 2>&1 || true
  wine_run "$reg32" delete "HKLM\Software\Classes\CLSID\\$clsid" /f >/dev/null 2>&1 || true
  wine_run reg delete "$user_run" /v ZvViewShared /f >/dev/null 2>&1 || true
  rm -f "$bho_file"
  rm -rf "$work"
}
trap cleanup EXIT
wine_run reg add "$machine_run" /v ZvViewNative /d 'C:\ZvDemo\native.exe' /f >/dev/null
wine_run "$reg32" add "$machine_run" /v ZvViewWow /d 'C:\ZvDemo\wow.exe' /f >/dev/null
wine_run reg add "$user_run" /v ZvViewShared /d 'C:\ZvDemo\shared.exe' /f >/dev/null
# The 32-bit reg.exe writes both into Wow6432Node; the server is a file of the WOW64 view's System32.
wine_run "$reg32" add "$helpers\\$clsid" /f >/dev/null
wine_run "$reg32" add "HKLM\Software\Classes\CLSID\\$clsid\\InprocServer32" /ve /d 'C:\windows\system32\zvviewbho.dll' /f >/dev/null
: >"$bho_file"

zvscan_views() { wine_run "$build/bin/zvscan.exe" "$@" 2>>"$work/stderr"; }
scan() { zvscan_views --skip-probe --format json --category registry "$@"; }
scan >"$work/both.jsonl"
scan --view native >"$work/native.jsonl"
scan --view wow64 >"$work/wow64.jsonl"

lines() { grep -F "[$1]" "$work/$2" || true; }
[ "$(lines ZvViewNative both.jsonl | wc -l)" -eq 1 ] || fail "the native value is not listed once: $(lines ZvViewNative both.jsonl)"
lines ZvViewNative both.jsonl | grep -q '"view":"native"' || fail "the native value's view: $(lines ZvViewNative both.jsonl)"
lines ZvViewWow both.jsonl | grep -q '"view":"wow64"' || fail "the WOW64 value's view: $(lines ZvViewWow both.jsonl)"
lines ZvViewWow both.jsonl | grep -qi '"real_key":"HKLM\\\\Software\\\\WOW6432Node\\\\' ||
  fail "the WOW64 value does not name its real key: $(lines ZvViewWow both.jsonl)"
[ "$(lines ZvViewShared both.jsonl | wc -l)" -eq 1 ] || fail "the shared value is not listed once: $(lines ZvViewShared both.jsonl)"
lines ZvViewShared both.jsonl | grep -q '"view":"both"' || fail "the shared value's view: $(lines ZvViewShared both.jsonl)"
grep -q '"views":\["native","wow64"\]' "$work/both.jsonl" || fail "the end record does not name both views"
[ -z "$(lines ZvViewWow native.jsonl)" ] && [ -n "$(lines ZvViewNative native.jsonl)" ] || fail "--view native is not the native half"
[ -z "$(lines ZvViewNative wow64.jsonl)" ] && [ -n "$(lines ZvViewWow wow64.jsonl)" ] || fail "--view wow64 is not the WOW64 half"
having() { grep -F "$1" "$work/$2" || true; }
having "$clsid" both.jsonl | grep -q '"view":"wow64"' || fail "the 32-bit browser helper object's view: $(having "$clsid" both.jsonl)"
having "$clsid" both.jsonl | grep -qi '"files":\["C:\\\\windows\\\\syswow64\\\\zvviewbho.dll"' ||
  fail "the browser helper object does not name its WOW64 server file: $(having "$clsid" both.jsonl)"
[ -z "$(having "$clsid" native.jsonl)" ] || fail "the native view lists the 32-bit browser helper object"

# Repair and undo of the WOW64 value run in the 32-bit build: only Wow6432Node changes, and back.
wow_key="$(lines ZvViewWow both.jsonl | sed -n 's/.*"key":"\([0-9a-f]*\)".*/\1/p' | head -n 1)"
[ -n "$wow_key" ] || fail "the WOW64 value has no key: $(lines ZvViewWow both.jsonl)"
journal="$(wine_path "$work/journal.jsonl")"
export_registry before
zvscan_views repair --dry-run --key "$wow_key" --journal "$journal" >"$work/dry.out" || fail "the dry run failed"
grep -qi 'wow64' "$work/dry.out" || fail "the dry run does not say the WOW64 view repairs: $(cat "$work/dry.out")"
zvscan_views repair --yes --key "$wow_key" --journal "$journal" >"$work/repair.out" ||
  fail "the repair failed: $(cat "$work/repair.out") $(tail -n 3 "$work/stderr")"
grep -q '"view":"wow64"' "$work/journal.jsonl" || fail "the journal does not record the WOW64 view"
export_registry repaired
changes="$(diff "$work/before.HKLM.txt" "$work/repaired.HKLM.txt" | grep '^[<>]' || true)"
[ "$changes" = '< "ZvViewWow"="C:\\ZvDemo\\wow.exe"' ] || fail "the repair changed more than the WOW64 value: $changes"
grep -B20 -F '"ZvViewWow"=' "$work/before.HKLM.txt" | grep '^\[' | tail -n 1 | grep -qi 'Wow6432Node' ||
  fail "the repaired value was not the one under Wow6432Node"
cmp -s "$work/before.HKEY_USERS.txt" "$work/repaired.HKEY_USERS.txt" || fail "the repair changed HKEY_USERS"
zvscan_views undo --last --journal "$journal" >"$work/undo.out" || fail "the undo failed: $(tail -n 3 "$work/stderr")"
export_registry undone
same_registry before undone || fail "the undo did not restore the registry: $(registry_changes before undone)"

# A diff after a WOW64 value is added reports exactly that one, in its view.
wine_run "$reg32" add "$machine_run" /v ZvViewWowAdded /d 'C:\ZvDemo\added.exe' /f >/dev/null
scan >"$work/after.jsonl"
status=0
zvscan_views diff "$(wine_path "$work/both.jsonl")" "$(wine_path "$work/after.jsonl")" >"$work/diff.out" || status=$?
[ "$status" -eq 3 ] || fail "diff exited with $status, not 3: $(cat "$work/diff.out")"
[ "$(grep -cE '^(added|removed|changed) ' "$work/diff.out")" -eq 1 ] &&
  grep -qE '^added .*\[ZvViewWowAdded\]' "$work/diff.out" || fail "the diff is not the one added value: $(cat "$work/diff.out")"
echo "$name: passed"

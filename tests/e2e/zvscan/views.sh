#!/usr/bin/env bash
# Both registry views of the 64-bit golden prefix (ZV_WINEPREFIX) through both builds: a native HKLM
# Run value, a WOW64 one written by the 32-bit reg.exe, and a user's Run value the views share. Needs
# a machine that executes 32-bit programs and the win32 build beside the win64 one; otherwise says
# why and exits 77 (skipped).
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
cleanup() {
  wine_run reg delete "$machine_run" /v ZvViewNative /f >/dev/null 2>&1 || true
  wine_run 'C:\windows\syswow64\reg.exe' delete "$machine_run" /v ZvViewWow /f >/dev/null 2>&1 || true
  wine_run reg delete "$user_run" /v ZvViewShared /f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
wine_run reg add "$machine_run" /v ZvViewNative /d 'C:\ZvDemo\native.exe' /f >/dev/null
wine_run 'C:\windows\syswow64\reg.exe' add "$machine_run" /v ZvViewWow /d 'C:\ZvDemo\wow.exe' /f >/dev/null
wine_run reg add "$user_run" /v ZvViewShared /d 'C:\ZvDemo\shared.exe' /f >/dev/null

scan() { wine_run "$build/bin/zvscan.exe" --skip-probe --format json --category registry "$@" 2>>"$work/stderr"; }
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
echo "$name: passed"

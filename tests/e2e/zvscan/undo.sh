#!/usr/bin/env bash
# Reversible repairs on a prefix seeded with the demo's entries (ZV_WINEPREFIX). Every repair routine
# the prefix exercises (run-key value, Winlogon Notify key, Userinit, both Shell values, AppInit_DLLs,
# UIHost, System, the input method in the middle of its preload list, the .txt open command, a
# startup file with the hidden and system attributes) is repaired in one run with a journal, then
# undone entry by entry; the registry export and the listing of the startup folders afterwards equal
# those before, byte for byte. The keys involved hold a REG_EXPAND_SZ value and an odd-length string.
# A startup file with the read-only and hidden attributes cannot be deleted, and its record says so
# with nothing to undo; so does the refused rundll32 repair. An undo after the entry was changed by
# hand is refused, shows the difference and changes nothing, and --force puts the entry back over it;
# a value added beside the entry neither blocks an undo nor is lost by it. Quarantined copies have
# names that do not run; undo --last names the entry it restores when later ones have nothing to
# undo; a journal that does not exist is an error. (Wine reports no media for its drives, so no drive
# autorun file is scanned.) A dry run writes no journal. The prefix is seeded again at the end.
#   undo.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
build="$1"
: "${ZV_WINEPREFIX:?set ZV_WINEPREFIX to the golden prefix}"
work="$(mktemp -d "$build/zvscan-undo.XXXXXX")"
name=undo
source "$here/prefix.sh"
journal="$(wine_path "$work/journal.jsonl")"
user_run='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
winlogon='Software\Microsoft\Windows NT\CurrentVersion\Winlogon'
userinit="$ZV_WINEPREFIX/drive_c/windows/system32/userinit.exe"
common_startup="$ZV_WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/StartUp"
common_startup_wine='C:\ProgramData\Microsoft\Windows\Start Menu\Programs\StartUp'
user_startup="$(find "$ZV_WINEPREFIX/drive_c/users" -path '*/Start Menu/Programs/StartUp' -type d | grep -v /Public/ | head -n 1)"
restore() {
  for flag in -r -h -s; do
    wine_run attrib "$flag" "$common_startup_wine\\*" >/dev/null 2>&1 || true
    wine_run attrib "$flag" "$(wine_path "$user_startup")\\*" >/dev/null 2>&1 || true
  done
  wine_run reg delete "$user_run" /v ZvDemoExpand /f >/dev/null 2>&1 || true
  wine_run reg delete "$user_run" /v ZvDemoOdd /f >/dev/null 2>&1 || true
  wine_run reg delete "$user_run" /v ZvDemoUnrelated /f >/dev/null 2>&1 || true
  for value in UIHost System Userinit Shell; do
    wine_run reg delete "HKLM\\$winlogon" /v "$value" /f >/dev/null 2>&1 || true
  done
  wine_run reg add "HKLM\\$winlogon" /v Shell /d explorer.exe /f >/dev/null
  wine_run reg delete "HKCU\\$winlogon" /v Shell /f >/dev/null 2>&1 || true
  # Wine's own entry is 1; seeding puts the demo's layout back at 2.
  for number in 2 3 4 5 6 7 8; do
    wine_run reg delete 'HKCU\Keyboard Layout\Preload' /v $number /f >/dev/null 2>&1 || true
  done
  rm -f "$userinit"
  "$root/scripts/seed-demo.sh" "$build" >/dev/null
  rm -rf "$work"
}
trap restore EXIT

# The startup folders as the file system and Wine's attributes show them.
list_folders() {
  { ls -lA --full-time "$common_startup" "$user_startup"
    wine_run attrib "$common_startup_wine\\*"
    wine_run attrib "$(wine_path "$user_startup")\\*"; } | tr -d '\r' >"$work/$1.folders"
}
# The key of the scanned item of this identifier whose JSON line holds the text.
key_of() {
  grep -F "\"id\":\"$1\"" "$work/scan.jsonl" | grep -F "$2" | head -n 1 | sed 's/.*"key":"\([0-9a-f]*\)".*/\1/'
}

"$root/scripts/seed-demo.sh" "$build" >/dev/null
# The demo's layout has a place of its own in the preload list; two entries will follow it.
ime_number="$(wine_run reg query 'HKCU\Keyboard Layout\Preload' | tr -d '\r' | grep -i 'E0200409' | awk '{print $1}')"
[ -n "$ime_number" ] || fail "the demo's input method is not in the preload list"
# A string's UTF-16 bytes with their terminator, as a .reg file writes them after hex(2):.
utf16_hex() { printf '%s' "$1" | iconv -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ',' | sed 's/^,//'; echo 00,00; }
# What the repairs act on beyond the demo's entries, in one import: a REG_EXPAND_SZ value and a string
# of an odd number of bytes beside the Run value (an import from UTF-16 keeps hex(1) data as bytes),
# the Winlogon values, and preload entries after the input method, one of them REG_EXPAND_SZ.
{ printf '\xff\xfe'
  sed 's/$/\r/' <<REG | iconv -t UTF-16LE
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]
"ZvDemoExpand"=hex(2):$(utf16_hex '%SystemRoot%\zvdemo-expand.exe')
"ZvDemoOdd"=hex(1):43,00,3a,00,5c

[HKEY_LOCAL_MACHINE\\$winlogon]
"Userinit"="C:\\\\ZvDemo\\\\zvdemo-init.exe,"
"Shell"="C:\\\\ZvDemo\\\\zvdemo-shell.exe"
"UIHost"="C:\\\\ZvDemo\\\\zvdemo-uihost.exe"
"System"="C:\\\\ZvDemo\\\\zvdemo-system.exe"

[HKEY_CURRENT_USER\\$winlogon]
"Shell"="C:\\\\ZvDemo\\\\zvdemo-user-shell.exe"

[HKEY_CURRENT_USER\\Keyboard Layout\\Preload]
"$((ime_number + 1))"=hex(2):$(utf16_hex 00000407)
"$((ime_number + 2))"="0000040c"
REG
} >"$work/extra.reg"
wine_run reg import "$(wine_path "$work/extra.reg")" >/dev/null 2>&1
: >"$userinit"
# Wine's attrib applies one flag a call.
wine_run attrib +h "$common_startup_wine\\zvdemo-agent.exe" >/dev/null
wine_run attrib +s "$common_startup_wine\\zvdemo-agent.exe" >/dev/null
wine_run attrib +r "$(wine_path "$user_startup")\\Zv Demo Tray.lnk" >/dev/null
wine_run attrib +h "$(wine_path "$user_startup")\\Zv Demo Tray.lnk" >/dev/null

zvscan --format json >"$work/scan.jsonl"
keys=()
for item in '0x10101015 [ZvDemoUpdater]' '0x1010C005 ZvDemoNotify' '0x10101006 [Userinit]' '0x1010100A [Shell]' \
  '0x10101008 S-1-5-21' '0x1010A001 [AppInit_DLLs]' '0x1010C004 [UIHost]' '0x1010C003 [System]' \
  '0x10600001 E0200409' '0x10700020 .txt' '0x10400001 zvdemo-agent.exe' '0x10400002 Zv Demo Tray.lnk'; do
  key="$(key_of "${item%% *}" "${item#* }")"
  [ -n "$key" ] || fail "no item $item in the scan"
  keys+=(--key "$key")
done

export_registry before
list_folders before
zvscan repair --dry-run --journal "$journal" "${keys[@]}" >/dev/null || true
[ ! -e "$work/journal.jsonl" ] || fail "a dry run wrote the journal"
status=0
zvscan repair --yes --journal "$journal" "${keys[@]}" >"$work/repair.out" || status=$?
[ "$status" -eq 1 ] || fail "the repairs exited with $status, not 1 for the read-only file: $(cat "$work/repair.out")"
[ "$(grep -c ': S_OK (0x00000000): repaired' "$work/repair.out")" -eq 11 ] || fail "not 11 repairs: $(cat "$work/repair.out")"
grep -q 'Zv Demo Tray.lnk: .*(0x80070005)' "$work/repair.out" || fail "the read-only file was deleted: $(cat "$work/repair.out")"
grep -q '"name":"ZvDemoOdd","type":1,"data":"[0-9a-f]\{14\}"' "$work/journal.jsonl" ||
  fail "the journal does not hold the odd-length value's seven bytes"

zvscan undo --journal "$journal" >"$work/list.out" || fail "the journal cannot be listed"
[ "$(grep -c ' can undo ' "$work/list.out")" -eq 11 ] || fail "not 11 entries to undo: $(cat "$work/list.out")"
[ "$(grep -c ' nothing to undo ' "$work/list.out")" -eq 1 ] || fail "the refused delete is not listed: $(cat "$work/list.out")"
for round in $(seq 11); do
  zvscan undo --last --journal "$journal" >>"$work/undo.out" || fail "undo $round failed: $(tail -n 3 "$work/stderr")"
done
if zvscan undo --last --journal "$journal" >/dev/null; then fail "a twelfth undo found something"; fi
export_registry undone
list_folders undone
same_registry before undone || fail "the undos did not restore the registry: $(registry_changes before undone)"
cmp -s "$work/before.folders" "$work/undone.folders" ||
  fail "the startup folders differ: $(diff "$work/before.folders" "$work/undone.folders")"

# Quarantined copies keep names that do not run; undo gave the files their own names back.
quarantined="$(find "$work/journal.jsonl.quarantine" -type f -printf '%f\n')"
echo "$quarantined" | grep -qx 'zvdemo-agent.exe.quarantined' || fail "the startup program is not quarantined: $quarantined"
if echo "$quarantined" | grep -qv '\.quarantined$'; then fail "the quarantine holds runnable names: $quarantined"; fi

# A value added beside the entry after the repair neither blocks the undo nor is lost by it.
updater_key="$(key_of 0x10101015 '[ZvDemoUpdater]')"
zvscan repair --yes --journal "$journal" --key "$updater_key" >/dev/null || fail "the Run value was not repaired"
wine_run reg add "$user_run" /v ZvDemoUnrelated /d 'C:\ZvDemo\unrelated.exe' /f >/dev/null
zvscan undo --last --journal "$journal" >/dev/null || fail "an unrelated value blocked the undo: $(tail -n 3 "$work/stderr")"
wine_run reg query "$user_run" /v ZvDemoUnrelated >/dev/null 2>&1 || fail "the undo removed a value added after the repair"
wine_run reg query "$user_run" /v ZvDemoUpdater >/dev/null 2>&1 || fail "the undo did not put the Run value back"
wine_run reg delete "$user_run" /v ZvDemoUnrelated /f >/dev/null

# Changed by hand after the repair: the undo is refused, shows the difference and changes nothing;
# --force puts the entry back over it and says what it overwrote.
zvscan repair --yes --journal "$journal" --key "$updater_key" >/dev/null || fail "the Run value was not repaired"
wine_run reg add "$user_run" /v ZvDemoUpdater /d 'C:\ZvDemo\by-hand.exe' /f >/dev/null
export_registry by_hand
if zvscan undo --last --journal "$journal" >"$work/refused.out"; then fail "an undo over a change by hand succeeded"; fi
grep -q 'refused, nothing was changed: .*\\Run is not as the repair left it' "$work/stderr" ||
  fail "the refusal is not explained: $(tail -n 2 "$work/stderr")"
grep -qF '\Run\[ZvDemoUpdater]: the repair left it absent, now REG_SZ "C:\ZvDemo\by-hand.exe"' "$work/stderr" ||
  fail "the refusal does not show the difference: $(tail -n 3 "$work/stderr")"
export_registry after_refusal
same_registry by_hand after_refusal || fail "a refused undo changed the registry: $(registry_changes by_hand after_refusal)"
zvscan undo --last --force --journal "$journal" >"$work/forced.out" || fail "undo --force failed: $(tail -n 3 "$work/stderr")"
grep -q 'overwrote' "$work/forced.out" && grep -qF 'by-hand.exe' "$work/forced.out" ||
  fail "undo --force does not say what it overwrote: $(cat "$work/forced.out")"
export_registry forced
same_registry undone forced || fail "undo --force did not put the entry back: $(registry_changes undone forced)"

# A repair the library refuses leaves a record with nothing to undo; undo --last then names the
# earlier entry it restores and when that repair was made.
zvscan repair --yes --journal "$journal" --key "$updater_key" >/dev/null || fail "the Run value was not repaired"
helper_key="$(key_of 0x1010100E '[ZvDemoHelper]')"
if zvscan repair --yes --journal "$journal" --key "$helper_key" >/dev/null; then fail "rundll32 was repaired"; fi
zvscan undo --journal "$journal" >"$work/list.out"
tail -n 2 "$work/list.out" | grep -q ' nothing to undo .*\[ZvDemoHelper\]' || fail "no record of the refusal: $(tail -n 2 "$work/list.out")"
tail -n 1 "$work/list.out" | grep -q 'S_FALSE' || fail "the record does not give S_FALSE: $(tail -n 1 "$work/list.out")"
entry="$(tail -n 2 "$work/list.out" | head -n 1 | awk '{print $1}')"
if zvscan undo "$entry" --journal "$journal" >/dev/null; then fail "the refused repair was undone"; fi
grep -q "entry $entry (the repair of [^)]*): the repair changed nothing" "$work/stderr" || fail "no word that there is nothing to undo"
zvscan undo --last --journal "$journal" >"$work/last.out" || fail "undo --last failed: $(tail -n 3 "$work/stderr")"
previous=$((entry - 1))
grep -q "undo --last: entry $previous, the repair of .*Z, is the latest entry that can be undone" "$work/stderr" ||
  fail "undo --last does not say it passed over entry $entry: $(tail -n 2 "$work/stderr")"
grep -q "^entry $previous (the repair of .*Z): restored .*\[ZvDemoUpdater\]" "$work/last.out" ||
  fail "undo --last does not name the entry it restored: $(cat "$work/last.out")"

# A journal that does not exist is an error, and undo does not create it.
if zvscan undo --journal "$(wine_path "$work/none.jsonl")" >/dev/null; then fail "undo of a missing journal succeeded"; fi
if zvscan undo --last --journal "$(wine_path "$work/none.jsonl")" >/dev/null; then fail "undo --last of a missing journal succeeded"; fi
[ ! -e "$work/none.jsonl" ] || fail "undo created the missing journal"
echo "undo: 11 repairs undone exactly, only the entry compared, a change by hand refused and forced, refused repairs recorded"

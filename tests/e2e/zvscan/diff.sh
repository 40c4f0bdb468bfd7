#!/usr/bin/env bash
# zvscan diff on a prefix seeded with the demo's entries (ZV_WINEPREFIX): a scan saved as JSON Lines,
# then one Run value added, one removed, one changed and a service's image path changed give exactly
# those four differences, in the table, JSON Lines and CSV, with the exit status of differences; a
# scan compared with itself gives none; a baseline cut in the middle of a line, or one without its
# end record, is an error naming the cut, with nothing on stdout; a baseline saved with evidence
# finds a file whose bytes changed. The prefix is seeded again at the end, which puts everything back.
#   diff.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
build="$1"
: "${ZV_WINEPREFIX:?set ZV_WINEPREFIX to the golden prefix}"
work="$(mktemp -d "$build/zvscan-diff.XXXXXX")"
name=diff
source "$here/prefix.sh"
user_run='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
machine_run='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
restore() {
  wine_run reg delete "$user_run" /v ZvDemoAdded /f >/dev/null 2>&1 || true
  "$root/scripts/seed-demo.sh" "$build" >/dev/null
  rm -rf "$work"
}
trap restore EXIT

"$root/scripts/seed-demo.sh" "$build" >/dev/null
zvscan --format json >"$work/baseline.jsonl"
baseline="$(wine_path "$work/baseline.jsonl")"

zvscan diff "$baseline" "$baseline" >"$work/same.out" || fail "a scan compared with itself differs: $(cat "$work/same.out")"
grep -q "no differences" "$work/stderr" || fail "no word that nothing differs"

wine_run reg add "$user_run" /v ZvDemoAdded /d 'C:\ZvDemo\added.exe' /f >/dev/null
wine_run reg delete "$machine_run" /v ZvDemoHelper /f >/dev/null
wine_run reg add "$user_run" /v ZvDemoUpdater /d 'C:\windows\notepad.exe /changed' /f >/dev/null
wine_run reg add 'HKLM\System\CurrentControlSet\Services\ZvDemoService' /v ImagePath /t REG_EXPAND_SZ \
  /d '%SystemRoot%\system32\notepad.exe -k ZvDemo' /f >/dev/null

# The exit status of each form, which must say "differences".
for format in table json csv; do
  status=0
  zvscan diff "$baseline" --format "$format" >"$work/diff.$format" || status=$?
  [ "$status" -eq 3 ] || fail "diff --format $format exited with $status, not 3: $(tail -n 3 "$work/stderr")"
done

table="$work/diff.table"
[ "$(grep -cE '^(added|removed|changed) ' "$table")" -eq 4 ] || fail "not four differences in the table: $(cat "$table")"
grep -qE '^added +[0-9a-f]{12} +0x10101015 .*\[ZvDemoAdded\]' "$table" || fail "the added Run value is missing: $(cat "$table")"
grep -qE '^removed +[0-9a-f]{12} +0x1010100E .*\[ZvDemoHelper\]' "$table" || fail "the removed Run value is missing: $(cat "$table")"
grep -qE '^changed +[0-9a-f]{12} +0x10101015 .*\[ZvDemoUpdater\]' "$table" || fail "the changed Run value is missing: $(cat "$table")"
grep -qE '^changed +[0-9a-f]{12} +0x102.*ZvDemoService' "$table" || fail "the changed service is missing: $(cat "$table")"
grep -qE '^ +baseline: "C:\\Program Files\\Zv Demo\\updater\.exe" /background$' "$table" &&
  grep -qE '^ +current:  C:\\windows\\notepad\.exe /changed$' "$table" ||
  fail "the table does not show what differed, as it is: $(cat "$table")"

json="$work/diff.json"
[ "$(wc -l <"$json")" -eq 4 ] || fail "not four JSON lines: $(cat "$json")"
grep -q '^{"change":"added","key":"[0-9a-f]*","id":"0x10101015",.*ZvDemoAdded' "$json" || fail "JSON: no added line"
grep -q '^{"change":"removed","key":"[0-9a-f]*","id":"0x1010100E",.*ZvDemoHelper' "$json" || fail "JSON: no removed line"
grep -q '^{"change":"changed","key":"[0-9a-f]*","id":"0x10101015",.*ZvDemoUpdater.*"differences":{.*"data":{"baseline":' "$json" ||
  fail "JSON: no changed Run value with its differences"
grep -q '^{"change":"changed","key":"[0-9a-f]*","id":"0x102.*ZvDemoService.*"differences":{"files":{"baseline":\[' "$json" ||
  fail "JSON: the service's files do not differ: $(grep ZvDemoService "$json")"

csv="$work/diff.csv"
head -n 1 "$csv" | grep -q '^change,key,id,hive,location,field,baseline,current' || fail "CSV: no header"
# One record per differing field: the four items, each once, however many fields differ.
[ "$(tail -n +2 "$csv" | cut -d, -f1-5 | sort -u | wc -l)" -eq 4 ] || fail "CSV: not four items: $(cat "$csv")"
grep -q '^removed,[0-9a-f]*,0x1010100E,.*ZvDemoHelper' "$csv" || fail "CSV: no removed record"

lines="$(wc -l <"$work/baseline.jsonl")"
head -c "$(($(head -n 3 "$work/baseline.jsonl" | wc -c) + 25))" "$work/baseline.jsonl" >"$work/cut.jsonl"
status=0
zvscan diff "$(wine_path "$work/cut.jsonl")" "$baseline" >"$work/cut.out" || status=$?
[ "$status" -eq 1 ] || fail "a cut baseline exited with $status, not 1"
[ ! -s "$work/cut.out" ] || fail "a cut baseline half-reported: $(cat "$work/cut.out")"
grep -q 'cut.jsonl, line 4: cut short' "$work/stderr" || fail "the cut line is not named: $(tail -n 2 "$work/stderr")"
[ "$lines" -gt 4 ] || fail "the baseline is too short to cut"

# A scan whose last line is gone is refused, naming the cut; one written before scans had start and
# end records is read with a warning.
grep -q '^{"scan_start"' "$work/baseline.jsonl" || fail "the saved scan has no start record"
cp "$work/baseline.jsonl" "$work/whole.jsonl"
grep -v '^{"scan_\(start\|end\)"' "$work/baseline.jsonl" >"$work/old.jsonl"
: >"$work/stderr"
zvscan diff "$(wine_path "$work/old.jsonl")" "$(wine_path "$work/whole.jsonl")" >/dev/null ||
  fail "a scan without start and end records was not read: $(tail -n 2 "$work/stderr")"
grep -q "complete cannot be checked" "$work/stderr" ||
  fail "no warning that a scan without start and end records cannot be checked: $(cat "$work/stderr")"
: >"$work/stderr"
zvscan diff "$(wine_path "$work/whole.jsonl")" "$(wine_path "$work/whole.jsonl")" >/dev/null ||
  fail "a whole scan with start and end records was not read: $(tail -n 2 "$work/stderr")"
! grep -q warning "$work/stderr" || fail "a warning for a scan that can be checked: $(cat "$work/stderr")"
head -n -1 "$work/whole.jsonl" >"$work/no-end.jsonl"
status=0
zvscan diff "$(wine_path "$work/no-end.jsonl")" >"$work/no-end.out" || status=$?
[ "$status" -eq 1 ] && [ ! -s "$work/no-end.out" ] || fail "a baseline without its last line exited with $status"
grep -qE 'no-end\.jsonl: cut short after [0-9]+ items \(no end record\)' "$work/stderr" ||
  fail "the cut is not named: $(tail -n 2 "$work/stderr")"

# A baseline saved with --evidence: the fresh scan gathers evidence too, and a file's new bytes are a change.
"$root/scripts/seed-demo.sh" "$build" >/dev/null
zvscan --evidence --format json >"$work/evidence.jsonl"
printf 'other bytes\r\n' >"$ZV_WINEPREFIX/drive_c/ZvDemo/zvdemosvc.dll"
status=0
zvscan diff "$(wine_path "$work/evidence.jsonl")" --format json >"$work/evidence.out" || status=$?
[ "$status" -eq 3 ] || fail "a changed file of an evidence baseline exited with $status, not 3"
[ "$(wc -l <"$work/evidence.out")" -eq 1 ] && grep -q 'ZvDemoService","differences":{"evidence":' "$work/evidence.out" ||
  fail "not exactly the service's evidence differs: $(cat "$work/evidence.out")"
: >"$work/stderr"
zvscan diff "$(wine_path "$work/evidence.jsonl")" "$baseline" >/dev/null || true
[ "$(grep -c "evidence not compared: only .*evidence.jsonl has it" "$work/stderr")" -eq 1 ] ||
  fail "no single word that evidence was not compared: $(cat "$work/stderr")"
echo "diff: four differences in three forms, none for the same scan, a cut line and a missing end named, evidence compared"

#!/usr/bin/env bash
# zvscan --image against the live scan of the same entries: the entries go into the golden prefix's
# registry (reg import) and, from the same .reg text, into hive files (an empty hive filled by
# hivexregedit --merge) under an image folder of the right shape. Both scans must give the same
# items (ids, keys, locations, kind fields, files and their evidence: the image holds copies of the
# prefix's files the entries name, which the offline scan finds there, as the image's C:), the
# target of the shortcut Wine's shell wrote into the user's startup folder and the work item Wine's
# Task Scheduler saved, both copied too. Then: the
# services of a real SYSTEM hive as hivexregedit lists them; repair and undo refused with --image;
# the image unchanged byte for byte. Skips (exit 77) without hivexregedit. Restores what it writes
# to the prefix.
#   offline.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
build="$1"
name=offline
: "${ZV_WINEPREFIX:?set ZV_WINEPREFIX to the golden prefix}"
if ! command -v hivexregedit >/dev/null || ! command -v perl >/dev/null; then
  echo "offline: skipped: hivexregedit (libwin-hivex-perl) is missing; scripts/setup.sh installs it" >&2
  exit 77
fi
work="$(mktemp -d)"
tag="ZvOffline$$"
source "$here/prefix.sh"

# the name=value lines of one key, the .reg way: hex(N) bytes of UTF-16 text with its terminator.
utf16_hex() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ',' | sed 's/^,//; s/,$//'; }
text_value() { echo "\"$1\"=hex($2):$(utf16_hex "$3"),00,00"; }

run_key='Microsoft\Windows\CurrentVersion\Run'
service="${tag}Svc"
# The entries, under a root the caller names: $1 SOFTWARE's, $2 the user's, $3 the control set's.
entries() {
  printf '[%s\\%s]\n%s\n%s\n\n' "$1" "$run_key" \
    "$(text_value "$tag Tool" 1 'C:\windows\notepad.exe /x')" \
    "$(text_value "$tag Missing" 1 "\"C:\\Program Files\\$tag\\gone.exe\" -q")"
  printf '[%s\\%sOnce]\n%s\n\n' "$1" "$run_key" "$(text_value "$tag Once" 2 '%SystemRoot%\system32\cmd.exe /c echo')"
  printf '[%s\\%s]\n%s\n\n' "$2" "$run_key" "$(text_value "$tag User" 1 'C:\windows\regedit.exe')"
  printf '[%s\\Services\\%s]\n"Type"=dword:00000020\n"Start"=dword:00000002\n%s\n\n' "$3" "$service" \
    "$(text_value ImagePath 2 '%SystemRoot%\system32\svchost.exe -k zv')"
  printf '[%s\\Services\\%s\\Parameters]\n%s\n\n' "$3" "$service" \
    "$(text_value ServiceDll 2 "C:\\windows\\system32\\$tag.dll")"
}
# Every key above the given ones, parents first, as hivexregedit --merge needs them.
with_parents() {
  awk '/^\[/ { path = substr($0, 2, length($0) - 2); n = split(path, part, "\\"); key = part[1]
               for (i = 2; i < n; i++) { key = key "\\" part[i]; if (!(key in seen)) { seen[key] = 1; print "[" key "]\n" } }
               seen[path] = 1 } { print }'
}

cleanup() {
  wine_run reg delete "HKLM\\Software\\$run_key" /v "$tag Tool" /f >/dev/null 2>&1 || true
  wine_run reg delete "HKLM\\Software\\$run_key" /v "$tag Missing" /f >/dev/null 2>&1 || true
  wine_run reg delete "HKLM\\Software\\${run_key}Once" /v "$tag Once" /f >/dev/null 2>&1 || true
  wine_run reg delete "HKCU\\Software\\$run_key" /v "$tag User" /f >/dev/null 2>&1 || true
  wine_run reg delete "HKLM\\System\\CurrentControlSet\\Services\\$service" /f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# The live prefix: a UTF-16 .reg with CRLF, so that reg import stores the bytes as given.
{ printf 'Windows Registry Editor Version 5.00\n\n'
  entries 'HKEY_LOCAL_MACHINE\SOFTWARE' 'HKEY_CURRENT_USER\Software' 'HKEY_LOCAL_MACHINE\System\CurrentControlSet'; } |
  sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16 >"$work/live.reg"
wine_run reg import "$(wine_path "$work/live.reg")" >/dev/null 2>&1 || fail "reg import failed"

# The image: windows\system32\config, in the prefix's case, and one profile, whose SID is the prefix's
# own user.
image="$work/image"
sid='S-1-5-21-0-0-0-1000'
mkdir -p "$image/windows/system32/config" "$image/Users/zvuser"
for hive in SOFTWARE SYSTEM DEFAULT; do perl "$root/tests/support/empty_hive.pl" "$image/windows/system32/config/$hive"; done
perl "$root/tests/support/empty_hive.pl" "$image/Users/zvuser/NTUSER.DAT"
merge() {  # hive prefix
  { printf 'Windows Registry Editor Version 5.00\n\n'; with_parents; } >"$work/merge.reg"
  hivexregedit --merge --prefix "$2" "$1" "$work/merge.reg" || fail "hivexregedit --merge into $1 failed"
}
entries 'HKEY_LOCAL_MACHINE\SOFTWARE' 'HKEY_USERS\X' 'HKEY_LOCAL_MACHINE\SYSTEM\X' | awk '/^\[HKEY_LOCAL_MACHINE\\SOFTWARE/ {keep = 1} /^\[HKEY_(USERS|LOCAL_MACHINE\\SYSTEM)/ {keep = 0} keep' |
  { cat; printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n%s\n%s\n\n' \
      "$(text_value SystemRoot 1 'C:\windows')" "$(text_value CurrentVersion 1 '5.1')"
    printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\%s]\n%s\n' "$sid" \
      "$(text_value ProfileImagePath 2 '%SystemDrive%\Users\zvuser')"; } |
  merge "$image/windows/system32/config/SOFTWARE" 'HKEY_LOCAL_MACHINE\SOFTWARE'
{ printf '[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]\n"Current"=dword:00000001\n\n'
  entries 'X' 'X' 'HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001' | awk '/^\[HKEY_LOCAL_MACHINE\\SYSTEM/ {keep = 1} /^\[X/ {keep = 0} keep'; } |
  merge "$image/windows/system32/config/SYSTEM" 'HKEY_LOCAL_MACHINE\SYSTEM'
# The user's startup folder is the prefix's, with the shortcut Wine's shell wrote there (seeded).
startup="$(wine_run reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' /v Startup |
  tr -d '\r' | sed -n 's/.*REG_SZ *//p')"
case "$startup" in [Cc]:\\*) ;; *) fail "the prefix names no startup folder on C: ($startup)" ;; esac
startup_unix="$(printf '%s' "${startup:3}" | tr '\\' '/')"
shortcut='Zv Demo Tray.lnk'
[ -f "$ZV_WINEPREFIX/drive_c/$startup_unix/$shortcut" ] || fail "the prefix's startup folder has no $shortcut"
mkdir -p "$image/$startup_unix" "$image/ZvDemo"
cp -p "$ZV_WINEPREFIX/drive_c/$startup_unix/$shortcut" "$image/$startup_unix/"
cp -p "$ZV_WINEPREFIX/drive_c/ZvDemo/tray.exe" "$image/ZvDemo/"
# The work item Wine's Task Scheduler 1.0 saved (seeded), and its program. zvscan runs as Windows XP
# in this prefix (Wine's AppDefaults), and the image says it is XP: both scans take the 1.0 way.
job='ZvDemo Nightly.job'
[ -f "$ZV_WINEPREFIX/drive_c/windows/tasks/$job" ] || fail "the prefix has no work item $job"
mkdir -p "$image/windows/tasks"
cp -p "$ZV_WINEPREFIX/drive_c/windows/tasks/$job" "$image/windows/tasks/"
cp -p "$ZV_WINEPREFIX/drive_c/ZvDemo/nightly.exe" "$image/ZvDemo/"
{ entries 'X' 'HKEY_USERS\U\Software' 'X' | awk '/^\[HKEY_USERS/ {keep = 1} /^\[X/ {keep = 0} keep'
  printf '[HKEY_USERS\\U\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders]\n%s\n\n' \
    "$(text_value Startup 1 "$startup")"; } |
  merge "$image/Users/zvuser/NTUSER.DAT" 'HKEY_USERS\U'
# The prefix's files that the entries name, at their places and in their case, in the image's C:.
for file in windows/notepad.exe windows/regedit.exe windows/system32/cmd.exe windows/system32/svchost.exe; do
  mkdir -p "$image/$(dirname "$file")"
  cp -p "$ZV_WINEPREFIX/drive_c/$file" "$image/$file" || fail "the prefix has no $file"
done
( cd "$image" && find . -type f -exec sha256sum {} + | sort ) >"$work/image.before"

# The seeded items of a scan, without their position and without what only the live system has: the
# registry view of this 64-bit Windows and the real key a view names (an image is read as it lies).
seeded() {
  grep -F "$tag" "$1" | sed 's/^{"index":[0-9]*,/{/; s/,"view":"[a-z0-9]*"//; s/,"real_key":"\([^"\\]\|\\.\)*"//' | sort
}
for flags in "" "--skip-probe" "--evidence"; do
  zvscan --format json $flags >"$work/live.jsonl" || fail "the live scan failed"
  zvscan --image "$(wine_path "$image")" --format json $flags >"$work/offline.jsonl" || fail "the offline scan failed"
  seeded "$work/live.jsonl" >"$work/live.items"
  seeded "$work/offline.jsonl" >"$work/offline.items"
  [ "$(wc -l <"$work/live.items")" -ge 5 ] || fail "the live scan${flags:+ with $flags} lists $(wc -l <"$work/live.items") of the 5 entries"
  cmp -s "$work/live.items" "$work/offline.items" ||
    fail "live and offline scans${flags:+ with $flags} differ: $(diff "$work/live.items" "$work/offline.items" | head -n 10)"
  # The shortcut names the same target through Wine's shell and read from its bytes (a live scan
  # lists it once for each hive whose Startup is the folder, and names the hive; offline, no hive).
  for scan in live offline; do
    grep -F "$shortcut" "$work/$scan.jsonl" | sed -n 's/.*"files":\(\[[^]]*\]\).*/\1/p' | sort -u >"$work/$scan.shortcut"
  done
  [ "$(cat "$work/live.shortcut")" = '["C:\\ZvDemo\\tray.exe"]' ] || fail "Wine's shell gives the shortcut $(cat "$work/live.shortcut")"
  cmp -s "$work/live.shortcut" "$work/offline.shortcut" ||
    fail "the offline scan gives the shortcut $(cat "$work/offline.shortcut"), the live one $(cat "$work/live.shortcut")"
  # The work item, read by Wine's scheduler and from the .job file's bytes.
  for scan in live offline; do
    grep -F "\"location\":\"$job\"" "$work/$scan.jsonl" | sed 's/^{"index":[0-9]*,/{/; s/,"view":"[a-z0-9]*"//' >"$work/$scan.task"
  done
  grep -q '"files":\["C:\\\\ZvDemo\\\\nightly.exe"' "$work/live.task" || fail "the live scan lists the work item as $(cat "$work/live.task")"
  cmp -s "$work/live.task" "$work/offline.task" ||
    fail "the offline scan lists the work item as $(cat "$work/offline.task"), the live one as $(cat "$work/live.task")"
  # The image's copy of notepad.exe is hashed, as the prefix's is.
  if [ "$flags" = --evidence ]; then
    grep -F "$tag Tool" "$work/offline.items" | grep -q '"sha256":"[0-9a-f]\{64\}"' || fail "the offline evidence has no hash of notepad.exe"
  fi
done
grep -q "\"current_user\":\"$sid\"" "$work/offline.jsonl" || fail "the start record does not name $sid as the current user"
grep -q "^zvscan: image: HKEY_CURRENT_USER: HKEY_USERS\\\\$sid" "$work/stderr" || fail "stderr does not name the user chosen"

# A real SYSTEM hive: every service of its current control set, as hivexregedit lists them.
hives="$build/real-hives"
if [ -f "$hives/SYSTEM_B" ]; then
  real="$work/real"
  mkdir -p "$real/Windows/System32/config"
  cp "$hives/SYSTEM_B" "$real/Windows/System32/config/SYSTEM"
  hivexregedit --export "$real/Windows/System32/config/SYSTEM" '\ControlSet001\Services' |
    sed -n 's/^\[\\ControlSet001\\Services\\\([^\\]*\)\]$/\1/p' | sort -f >"$work/services.expected"
  zvscan --image "$(wine_path "$real")" --category services --format json >"$work/real.jsonl" || fail "the scan of SYSTEM_B failed"
  sed -n 's/.*"location":"HKLM\\\\System\\\\CurrentControlSet\\\\Services\\\\\([^"]*\)".*/\1/p' "$work/real.jsonl" | sort -f >"$work/services.listed"
  [ "$(wc -l <"$work/services.expected")" -eq 655 ] || fail "hivexregedit lists $(wc -l <"$work/services.expected") services of SYSTEM_B"
  cmp -s "$work/services.expected" "$work/services.listed" ||
    fail "the services of SYSTEM_B differ from hivexregedit's: $(diff "$work/services.expected" "$work/services.listed" | head -n 5)"
fi

# Nothing is written offline: repair and undo are refused before anything is loaded.
set +e
zvscan repair --image "$(wine_path "$image")" --id 0x10101001 --location x --yes >/dev/null
repair=$?
zvscan --image "$(wine_path "$image")" undo >/dev/null
undo=$?
set -e
[ $repair -eq 2 ] || fail "repair --image ended with $repair, not 2"
[ $undo -eq 2 ] || fail "undo --image ended with $undo, not 2"
grep -q "repair is refused with --image" "$work/stderr" || fail "no message says why repair was refused"
grep -q "undo is refused with --image" "$work/stderr" || fail "no message says why undo was refused"
( cd "$image" && find . -type f -exec sha256sum {} + | sort ) | cmp -s - "$work/image.before" || fail "the image changed"
echo "offline: live and offline scans agree on $(wc -l <"$work/live.items") entries, a shortcut and a work item; repair and undo refused; image unchanged" >&2

#!/usr/bin/env bash
# Checks of the built DLLs that need no execution: each PE's machine type, exactly one export
# (ZVAtrunCreateObject, undecorated), and imports from system DLLs only.
#   scripts/check-dlls.sh [ARCH...]    (default win32 win64)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
[ $# -gt 0 ] || set -- win32 win64
system_dlls='^(ADVAPI32|KERNEL32|msvcrt|ole32|OLEAUT32|SHELL32|SHLWAPI|USER32|mstask|taskschd)\.dll$'
status=0
fail() { echo "check-dlls: $*" >&2; status=1; arch_ok=0; }
for arch in "$@"; do
  arch_ok=1
  case "$arch" in
    win32) objdump=i686-w64-mingw32-objdump; format=pei-i386 ;;
    win64) objdump=x86_64-w64-mingw32-objdump; format=pei-x86-64 ;;
    *) echo "check-dlls: unknown architecture $arch" >&2; exit 2 ;;
  esac
  dll="$root/build/$arch/bin/zvatrun.dll"
  [ -f "$dll" ] || { fail "$dll is missing"; continue; }
  "$objdump" -f "$dll" | grep -q "file format $format" || fail "$dll is not $format"
  exports="$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p')"
  [ "$exports" = "ZVAtrunCreateObject" ] || fail "$dll exports '${exports//$'\n'/ }', not exactly ZVAtrunCreateObject"
  while read -r import; do
    [[ "$import" =~ $system_dlls ]] || fail "$dll imports $import, which is not a system DLL"
  done < <("$objdump" -p "$dll" | sed -n 's/^\s*DLL Name: //p')
  if [ $arch_ok -eq 1 ]; then
    echo "check-dlls: $arch: $format, one export ZVAtrunCreateObject, system imports only" >&2
  fi
done
exit $status

#!/usr/bin/env bash
# Checks of the built DLLs that need no execution: each PE's machine type, exactly one export
# (ZVAtrunCreateObject for zvatrun.dll, ZVAtrunCreateOfflineObject for zvoffline.dll, undecorated),
# and imports from system DLLs only.
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
  for pair in zvatrun.dll:ZVAtrunCreateObject zvoffline.dll:ZVAtrunCreateOfflineObject; do
    name="${pair%%:*}"; export_name="${pair#*:}"
    dll="$root/build/$arch/bin/$name"
    [ -f "$dll" ] || { fail "$dll is missing"; continue; }
    "$objdump" -f "$dll" | grep -q "file format $format" || fail "$dll is not $format"
    exports="$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p')"
    [ "$exports" = "$export_name" ] || fail "$dll exports '${exports//$'\n'/ }', not exactly $export_name"
    while read -r import; do
      [[ "$import" =~ $system_dlls ]] || fail "$dll imports $import, which is not a system DLL"
    done < <("$objdump" -p "$dll" | sed -n 's/^\s*DLL Name: //p')
  done
  if [ $arch_ok -eq 1 ]; then
    echo "check-dlls: $arch: $format, zvatrun.dll exports only ZVAtrunCreateObject, zvoffline.dll only ZVAtrunCreateOfflineObject, system imports only" >&2
  fi
done
exit $status

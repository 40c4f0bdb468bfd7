# Shell helpers of the zvscan tests that run on the golden prefix (ZV_WINEPREFIX), sourced after
# root, build, work and name are set: Wine, zvscan, and registry exports to compare.
wine_run() { "$root/scripts/wine-run.sh" "$@"; }
# The native view alone, whether or not this machine runs the 32-bit build for the WOW64 view.
zvscan() { wine_run "$build/bin/zvscan.exe" --view native "$@" 2>>"$work/stderr"; }
fail() { echo "$name: $*" >&2; exit 1; }
# A path of the work folder as Wine sees it.
wine_path() { echo "Z:${1//\//\\}"; }
# The whole registry as reg.exe exports it, in UTF-8 text ($1.HKLM.txt, $1.HKEY_USERS.txt); HKEY_CLASSES_ROOT
# lives in HKLM. Without the display-driver keys that Wine's desktop process writes under fresh GUIDs
# whenever it starts without an X server: they are Wine's, not the scan's.
export_registry() {
  local root_key
  for root_key in HKLM HKEY_USERS; do
    wine_run reg export "$root_key" "$(wine_path "$work/$1.$root_key.reg")" /y >/dev/null
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

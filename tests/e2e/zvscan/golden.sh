#!/usr/bin/env bash
# Golden output of zvscan on a prefix seeded with the demo's entries (ZV_WINEPREFIX): the JSON Lines
# and CSV forms of the seeded entries of each category that has expected files in tests/golden
# (CATEGORY.jsonl, CATEGORY.csv) must equal them. Only entries naming the demo (ZvDemo) are compared,
# so Wine's own entries cannot make the test brittle, and the index (their position in the scan,
# which Wine's entries shift) and the key (derived from the location, which holds the name of the
# user running Wine for a startup folder) are left out. The prefix is seeded once more first: seeding twice must
# add nothing.
#   golden.sh BUILD_DIR                           compare
#   golden.sh BUILD_DIR --update [CATEGORY...]    rewrite the expected files of these categories
#                                                 (default: those that have expected files)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
build="$1"
update="${2:-}"
shift $(($# < 2 ? $# : 2))
golden="$root/tests/golden"
: "${ZV_WINEPREFIX:?set ZV_WINEPREFIX to the golden prefix}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$root/scripts/seed-demo.sh" "$build" >/dev/null
# The native view alone: what the golden files hold does not depend on whether this machine runs the
# 32-bit build for the WOW64 view.
zvscan() { "$root/scripts/wine-run.sh" "$build/bin/zvscan.exe" --view native "$@" 2>"$work/stderr"; }
zvscan --format json >"$work/all.jsonl"
zvscan --format csv >"$work/all.csv"

if grep -q $'[^\r]$' "$work/all.csv"; then
  echo "golden: a CSV record does not end in CRLF" >&2
  exit 1
fi
tr -d '\r' <"$work/all.csv" >"$work/all-lf.csv"

# Wine names the profile folder after the user running it: C:\users\<name> reads C:\users\USER.
user_neutral() { ZV_USER="$(id -un)" perl -pe 's/(\\+)users\1\Q$ENV{ZV_USER}\E\1/$1users$1USER$1/gi'; }

# The seeded entries of one category, without their index.
seeded_json() {
  { grep -F "\"category_name\":\"$1\"," "$work/all.jsonl" | grep -i zvdemo | sed 's/^{"index":[0-9]*,"key":"[0-9a-f]*",/{/' || true; } |
    user_neutral
}
seeded_csv() {
  head -n 1 "$work/all-lf.csv" | sed 's/^index,key,//'
  { grep -E "^[0-9]+,[0-9a-f]{12},0x[0-9A-F]{8},0x[0-9A-F]{8},$1," "$work/all-lf.csv" | grep -i zvdemo | sed 's/^[0-9]*,[0-9a-f]*,//' || true; } |
    user_neutral
}

if [ "$update" = "--update" ]; then
  [ $# -gt 0 ] || set -- $(cd "$golden" && ls *.jsonl | sed 's/\.jsonl$//')
  for category in "$@"; do
    seeded_json "$category" >"$golden/$category.jsonl"
    seeded_csv "$category" >"$golden/$category.csv"
    echo "golden: wrote $golden/$category.jsonl and .csv"
  done
  exit 0
fi

compared=0
failed=0
for expected in "$golden"/*.jsonl; do
  [ -e "$expected" ] || continue
  category="$(basename "$expected" .jsonl)"
  for form in jsonl csv; do
    if [ "$form" = jsonl ]; then seeded_json "$category" >"$work/$category.$form"; else seeded_csv "$category" >"$work/$category.$form"; fi
    if ! diff -u "$golden/$category.$form" "$work/$category.$form"; then
      echo "golden: $category.$form differs (expected -, actual +)" >&2
      failed=1
    fi
    compared=$((compared + 1))
  done
done
[ "$compared" -gt 0 ] || { echo "golden: no expected files in $golden" >&2; exit 1; }
for category in $(grep -i zvdemo "$work/all.jsonl" | sed 's/.*"category_name":"\([^"]*\)".*/\1/' | sort -u); do
  [ -e "$golden/$category.jsonl" ] || echo "golden: seeded $category entries are not compared (no $category.jsonl)"
done
exit "$failed"

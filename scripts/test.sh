#!/usr/bin/env bash
# Installs what is missing, builds both architectures, checks both DLLs' PE files, and runs the whole
# test suite under every architecture this machine can execute: both where 32-bit programs run,
# x86-64 alone where they do not. Each suite runs under Wine in its build tree's own prefix.
#   scripts/test.sh [win32|win64]...    (default: both; an architecture the machine cannot run fails)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/arch.sh"
"$root/scripts/setup.sh"
explicit=$#
[ $# -gt 0 ] || set -- win32 win64
"$root/scripts/build.sh" "$@"
status=0
"$root/scripts/check-dlls.sh" "$@" || status=1

tested=() skipped=() failed=()
for arch in "$@"; do
  if [ "$arch" = win32 ] && ! zv_runs_win32; then
    skipped+=("win32 (i686): $ZV_WIN32_REASON")
    continue
  fi
  echo "test: running the suite on $arch" >&2
  # Under load Wine now and then fails to start a test's process at all (it ends at once, without
  # a word); a failed test runs once more, and one that fails twice fails the suite.
  if ctest --preset "$arch" --no-tests=error --repeat until-pass:2; then tested+=("$arch"); else failed+=("$arch"); fi
done

summary="test: suite run on ${tested[*]:-no architecture}"
[ ${#failed[@]} -eq 0 ] || summary+="; FAILED on ${failed[*]}"
[ ${#skipped[@]} -eq 0 ] || summary+="; skipped ${skipped[*]}"
echo "$summary" >&2
# A skip is fine when the machine cannot do better, never when it was asked for or nothing ran.
if [ ${#failed[@]} -gt 0 ] || [ ${#tested[@]} -eq 0 ] || { [ $explicit -gt 0 ] && [ ${#skipped[@]} -gt 0 ]; }; then
  status=1
fi
exit $status

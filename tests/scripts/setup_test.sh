#!/usr/bin/env bash
# Setup's decisions, with stand-ins for apt-get, dpkg and sudo first on PATH: nothing real is
# installed or removed. The stand-ins keep the "installed" packages in a file and log every apt-get
# call; ZV_FAKE_UPDATE and ZV_FAKE_INSTALL say how apt-get behaves.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "setup_test: $*" >&2; exit 1; }

mkdir "$work/bin"
cat >"$work/bin/dpkg" <<'EOF'
#!/usr/bin/env bash
case "$1" in
  -s) grep -qx -- "$2" "$ZV_FAKE_STATE/installed" ;;
  --print-foreign-architectures) cat "$ZV_FAKE_STATE/arches" 2>/dev/null || true ;;
  --add-architecture) echo "$2" >>"$ZV_FAKE_STATE/arches" ;;
  *) exit 2 ;;
esac
EOF
cat >"$work/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
echo "$*" >>"$ZV_FAKE_STATE/calls"
case "$1" in
  update)
    if [ "${ZV_FAKE_UPDATE:-ok}" = fail ]; then
      echo "Err:6 http://mirror.invalid/debian-security bookworm-security/main i386 Packages"
      echo "  File has unexpected size (374820 != 376004). Mirror sync in progress?"
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
      exit 100
    fi ;;
  install)
    shift
    packages=()
    for argument in "$@"; do case "$argument" in -*) ;; *) packages+=("$argument") ;; esac; done
    case "${ZV_FAKE_INSTALL:-ok}" in
      fail)
        echo "E: Unable to locate package ${packages[0]}" >&2; exit 100 ;;
      no-i386)
        if printf '%s\n' "${packages[@]}" | grep -q ':i386$'; then
          echo " wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed"
          echo "E: Unable to correct problems, you have held broken packages." >&2
          exit 100
        fi ;;
    esac
    printf '%s\n' "${packages[@]}" >>"$ZV_FAKE_STATE/installed" ;;
esac
EOF
printf '#!/usr/bin/env bash\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/"*

packages64="g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 cmake googletest nlohmann-json3-dev libcli11-dev libwin-hivex-perl libhivex-bin libregf-utils osslsigncode openssl"

# Runs setup on a fresh fake machine that has the packages named in $1; sets status, out and calls.
run_setup() {
  local state="$work/state.$RANDOM"
  mkdir "$state"
  printf '%s\n' $1 >"$state/installed"
  [ -z "${stale_note:-}" ] || echo "$stale_note" >"$state/note"
  status=0
  out="$(ZV_FAKE_STATE="$state" ZV_WIN32_SETUP_NOTE="$state/note" PATH="$work/bin:$PATH" \
    "$root/scripts/setup.sh" 2>&1)" || status=$?
  calls="$(cat "$state/calls" 2>/dev/null || true)"
  note="$(cat "$state/note" 2>/dev/null || true)"
  installed="$(cat "$state/installed")"
}
install_calls() { grep '^install ' <<<"$calls" | sed 's/^install -y -q --no-install-recommends //' || true; }

# Everything present: nothing is said, apt is never called.
run_setup "$packages64 wine32:i386"
[ $status -eq 0 ] && [ -z "$out" ] && [ -z "$calls" ] || fail "with everything present setup said '$out', called '$calls', exit $status"

# A failed list and an i386 set that cannot be installed: the 64-bit set goes in a call of its own,
# the i386 failure is one line with apt's reason and the failed list, and setup succeeds.
ZV_FAKE_UPDATE=fail ZV_FAKE_INSTALL=no-i386 run_setup ""
[ $status -eq 0 ] || fail "an i386 set that cannot be installed failed setup (exit $status): $out"
[ "$(install_calls)" = "$packages64"$'\n'"wine32:i386" ] || fail "install calls were: $(install_calls)"
grep -q 'apt-get update failed for bookworm-security/main i386 Packages' <<<"$out" || fail "no warning names the failed list: $out"
[ "$(grep -c 'wine32:i386' <<<"$out")" -eq 2 ] || fail "the i386 failure is not one line (besides the installing line): $out"
grep -qx 'setup: could not install wine32:i386 (apt: Unable to correct problems, you have held broken packages.; these package lists failed to update: bookworm-security/main i386 Packages); the 32-bit suite will be skipped' <<<"$out" ||
  fail "the i386 line is not as expected: $out"
for package in $packages64; do grep -qx -- "$package" <<<"$installed" || fail "$package was not installed"; done
grep -q 'held broken packages' <<<"$note" || fail "the reason for the 32-bit skip was not kept: '$note'"

# The reason reaches the closing line of a test run through the shared architecture check.
(
  export ZV_WIN32_SETUP_NOTE="$work/kept-note"
  echo "$note" >"$ZV_WIN32_SETUP_NOTE"
  source "$root/scripts/arch.sh"
  if [ ! -x /usr/lib/wine/wine ]; then
    ! zv_runs_win32 || fail "32-bit Wine is missing but reported as runnable"
    grep -q 'held broken packages' <<<"$ZV_WIN32_REASON" || fail "the skip reason lacks setup's: $ZV_WIN32_REASON"
  fi
)

# The 64-bit set failing fails setup with apt's own message, and the i386 set is not tried.
ZV_FAKE_INSTALL=fail run_setup "wine32:i386"
[ $status -ne 0 ] || fail "a failed 64-bit install left setup successful: $out"
grep -q 'E: Unable to locate package g++-mingw-w64-i686' <<<"$out" || fail "apt's message was not shown: $out"

# Once the i386 set installs, the kept reason goes.
stale_note="could not install wine32:i386" run_setup "$packages64"
[ $status -eq 0 ] && [ "$(install_calls)" = "wine32:i386" ] && [ -z "$note" ] || fail "an installable i386 set: exit $status, calls '$(install_calls)', note '$note'"
echo "setup_test: passed"

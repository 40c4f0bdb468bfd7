#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, only when something is missing. Two sets,
# each in an apt-get call of its own:
#   the 64-bit set: both mingw-w64 toolchains, 64-bit Wine, CMake, GoogleTest sources, the host
#     tool's header-only libraries and the Debian tools the tests use. Setup fails when it fails.
#   the i386 set: 32-bit Wine. Its i386 libraries must match the installed amd64 versions, so it
#     cannot be installed while an i386 package list is missing (a mirror in sync, a proxy); then
#     setup says so in one line, succeeds, and the 32-bit suite is skipped with that reason.
# A package list that fails to update is a warning: setup goes on with the lists it has.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/arch.sh"

packages64=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 cmake googletest
  nlohmann-json3-dev libcli11-dev libwin-hivex-perl libhivex-bin libregf-utils osslsigncode openssl)
packages32=(wine32:i386)

installed() { dpkg -s "$1" >/dev/null 2>&1; }
missing_of() {
  local package
  for package in "$@"; do installed "$package" || echo "$package"; done
}
mapfile -t need64 < <(missing_of "${packages64[@]}")
mapfile -t need32 < <(missing_of "${packages32[@]}")
if [ ${#need32[@]} -eq 0 ]; then rm -f "$ZV_WIN32_SETUP_NOTE"; fi
[ ${#need64[@]} -eq 0 ] && [ ${#need32[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
log="$(mktemp)"
trap 'rm -f "$log"' EXIT

# The lists apt could not fetch, one per line without the mirror's address ("bookworm-security/main
# i386 Packages").
failed_lists() { awk '/^Err:/ { $1 = ""; $2 = ""; sub(/^ +/, ""); print }' "$log" | sort -u; }
# apt's own reason: its last error line without the "E: ".
apt_reason() { grep '^E: ' "$log" | tail -n 1 | sed 's/^E: //'; }
apt_install() {
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "$@" >"$log" 2>&1
}

need=("${need64[@]}" "${need32[@]}")
echo "setup: installing ${need[*]}" >&2
if [ ${#need32[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
lists_missing=""
if ! $sudo apt-get update -q >"$log" 2>&1; then
  lists_missing="$(failed_lists | paste -sd ';' | sed 's/;/; /g')"
  echo "setup: warning: apt-get update failed for ${lists_missing:-some package lists} ($(apt_reason)); going on with the lists it has" >&2
fi

if [ ${#need64[@]} -gt 0 ] && ! apt_install "${need64[@]}"; then
  cat "$log" >&2
  echo "setup: could not install ${need64[*]}" >&2
  exit 1
fi

# On a machine that does not execute 32-bit programs the i386 packages' maintainer scripts print
# "Exec format error"; the packages are still installed, and the 64-bit toolchain and Wine work.
if [ ${#need32[@]} -gt 0 ]; then
  apt_install "${need32[@]}" || true
  mapfile -t still32 < <(missing_of "${packages32[@]}")
  if [ ${#still32[@]} -gt 0 ]; then
    why="apt: $(apt_reason)"
    [ -z "$lists_missing" ] || why+="; these package lists failed to update: $lists_missing"
    note="could not install ${still32[*]} ($why)"
    mkdir -p "$(dirname "$ZV_WIN32_SETUP_NOTE")"
    echo "$note" >"$ZV_WIN32_SETUP_NOTE"
    echo "setup: $note; the 32-bit suite will be skipped" >&2
  else
    rm -f "$ZV_WIN32_SETUP_NOTE"
  fi
fi

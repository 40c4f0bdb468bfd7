#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, only when something is missing: both
# mingw-w64 toolchains (i686 and x86_64), 32-bit and 64-bit Wine, CMake, GoogleTest sources and the
# host tool's header-only libraries.
set -euo pipefail

need=()
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64)
command -v wine >/dev/null || need+=(wine)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
command -v cmake >/dev/null || need+=(cmake)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
[ -f /usr/include/CLI/CLI.hpp ] || need+=(libcli11-dev)

[ ${#need[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "setup: installing ${need[*]}" >&2
$sudo dpkg --add-architecture i386
$sudo apt-get update -q
# On a machine that does not execute 32-bit programs the i386 packages' maintainer scripts print
# "Exec format error"; the packages are still installed, and the 64-bit toolchain and Wine work.
if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${need[@]}"; then
  echo "setup: apt-get reported errors; checking what was installed" >&2
fi
missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64)
command -v i686-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-i686)
[ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
command -v cmake >/dev/null || missing+=(cmake)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
[ -f /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
[ -f /usr/include/CLI/CLI.hpp ] || missing+=(libcli11-dev)
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: could not install ${missing[*]}" >&2
  exit 1
fi

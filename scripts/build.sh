#!/usr/bin/env bash
# Configures and builds the given architectures (win32, win64; default both), each in its own tree:
# build/win32 (i686) and build/win64 (x86_64).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
[ $# -gt 0 ] || set -- win32 win64
for arch in "$@"; do
  case "$arch" in win32|win64) ;; *) echo "build: unknown architecture $arch (win32 or win64)" >&2; exit 2 ;; esac
  echo "build: $arch in build/$arch" >&2
  cmake --preset "$arch" >/dev/null
  cmake --build --preset "$arch" -j"$(nproc)"
done

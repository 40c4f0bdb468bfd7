# Sourced by the scripts: which Windows architectures this machine can execute under Wine.
# zv_runs_win32 succeeds when 32-bit Wine starts; otherwise ZV_WIN32_REASON says why not.
# ZV_WIN32_SETUP_NOTE is where setup leaves its reason when it could not install 32-bit Wine.
ZV_WIN32_SETUP_NOTE="${ZV_WIN32_SETUP_NOTE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/setup-win32.txt}"
zv_runs_win32() {
  local output
  if [ ! -x /usr/lib/wine/wine ]; then
    ZV_WIN32_REASON="32-bit Wine (/usr/lib/wine/wine) is not installed"
    [ ! -s "$ZV_WIN32_SETUP_NOTE" ] || ZV_WIN32_REASON+=": setup $(cat "$ZV_WIN32_SETUP_NOTE")"
    return 1
  fi
  if ! output="$(/usr/lib/wine/wine --version 2>&1)"; then
    ZV_WIN32_REASON="this machine does not execute 32-bit programs (${output##*: })"
    return 1
  fi
}

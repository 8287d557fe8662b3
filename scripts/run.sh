#!/usr/bin/env bash
# Installs what is missing, builds Trimbolt64.exe and runs it once under Wine. The arguments are
# passed to the program (the trim percentage, 50 when absent); its exit code is this script's.
# Uses the current X display if there is one, otherwise a private Xvfb for the run.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target Trimbolt64

export WINEPREFIX="${WINEPREFIX:-$PWD/build/windows/wineprefix-run}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEDEBUG="${WINEDEBUG:--all}"

xvfb_pid=""
cleanup() {
  if [ -n "$xvfb_pid" ]; then
    # Let this prefix's Wine session end while its display is still there.
    wineserver -w 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  exec {display_fd}<> <(:)
  Xvfb -displayfd "$display_fd" -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  read -r -u "$display_fd" display_number
  export DISPLAY=":$display_number"
fi

if [ ! -d "$WINEPREFIX" ]; then
  echo "preparing the Wine prefix $WINEPREFIX (once)"
  wineboot --init >/dev/null 2>&1
  wineserver -w
fi

status=0
wine build/windows/Trimbolt64.exe "$@" || status=$?
echo "Trimbolt64.exe exited with code $status"
exit "$status"

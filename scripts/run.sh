#!/usr/bin/env bash
# Installs what is missing, builds Trimbolt64.exe and runs it once under Wine. The arguments are
# passed to the program (the trim percentage, 50 when absent); its exit code is this script's.
# Uses the current X display if there is one, otherwise a private Xvfb for the run.
#
# It says what the run did in two lines: the percentage and the block as the program computes
# them (tools/TrimFigures.exe, run with the same arguments, reads them the program's way), the
# exit code, and whether the cues could be heard. The build's and Wine's own output (with no
# sound device, a screen of ALSA errors) go to build/windows/run.log instead of the terminal.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

log=build/windows/run.log
mkdir -p build/windows
: >"$log"

# Runs a command with its output in the log; if it fails, shows the end of the log and stops.
logged() {
  local status=0
  "$@" >>"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 30 "$log" >&2
    echo "failed ($status): $* (whole output in $log)" >&2
    exit "$status"
  fi
}

echo "building Trimbolt64.exe and tools/TrimFigures.exe"
logged cmake --preset windows
logged cmake --build --preset windows --target Trimbolt64 TrimFigures

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
  logged wineboot --init
  logged wineserver -w
fi

status=0
wine build/windows/Trimbolt64.exe "$@" >>"$log" 2>&1 || status=$?

# The figures, as the program computed them for the same command line.
figures=$(wine build/windows/tools/TrimFigures.exe "$@" 2>>"$log" | tr -d '\r') || true
figure() { sed -n "s/^$1=\([0-9]*\)\$/\1/p" <<<"$figures"; }
percent=$(figure percent)
total=$(figure total_bytes)
block=$(figure block_bytes)
devices=$(figure sound_devices)

if [ -n "$percent" ] && [ -n "$total" ] && [ -n "$block" ]; then
  echo "Trimbolt64.exe${*:+ $*}: a run at $percent%, a block of $((block / 1048576)) MiB of the" \
    "$((total / 1048576)) MiB Wine reports; exit code $status."
else
  echo "Trimbolt64.exe${*:+ $*}: exit code $status (its percentage and block are unknown:" \
    "tools/TrimFigures.exe did not run)."
fi

server=""
if command -v pactl >/dev/null && pactl_info=$(pactl info 2>/dev/null); then
  server=$(sed -n 's/^Server String: //p' <<<"$pactl_info")
fi
if [ -z "$devices" ]; then
  cues="Whether the cues played is unknown."
elif [ "$devices" -eq 0 ]; then
  if [ -n "$server" ]; then
    cues="The cues were silent: Wine found no sound device, though the sound server $server answers."
  else
    cues="The cues were silent for want of a sound device: Wine found none, and no sound server answers."
  fi
elif [ -n "$server" ]; then
  cues="The cues played through the sound server $server."
else
  cues="The cues played on the sound card Wine found (no sound server)."
fi
echo "$cues Wine's output: $log"
exit "$status"

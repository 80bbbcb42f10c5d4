#!/usr/bin/env bash
# Runs the desktop program against a private network of Linux network namespaces with simulated
# devices (scripts/testbed.sh: a PC at 10.0.0.1/24, AP-1 and Cam-2 beside it, Far-3 in a foreign
# subnet, so it hears broadcasts but does not answer a ping). scoutor runs inside the PC's
# namespace and reaches the X server through its socket under /tmp/.X11-unix.
#
# On your display when $DISPLAY is a local one that works (close the window to end). Otherwise
# on a private Xvfb: it saves a screenshot of the window after the first scan and ends.
# Everything it starts or creates is removed on exit, also on failure or Ctrl+C. Needs root.
#
# Usage: scripts/desktop.sh [BUILD-DIR] [SCREENSHOT]   (defaults: build, docs/first-scan.png)
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
screenshot=${2:-$here/../docs/first-scan.png}
scoutor=$build/ui/scoutor

# shellcheck source=testbed.sh
. "$here/testbed.sh"
TB_VEPSIM=$build/tools/vepsim/vepsim
TB_VEPSIM_ARGS=""

[ -x "$scoutor" ] && [ -x "$TB_VEPSIM" ] ||
  tb_fail "build scoutor and vepsim first (cmake --build $build --target scoutor vepsim)"

XVFB_PID=""
SCOUTOR_PID=""
cleanup() {
  [ -n "$SCOUTOR_PID" ] && kill "$SCOUTOR_PID" 2>/dev/null && wait "$SCOUTOR_PID" 2>/dev/null
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
  tb_teardown
}

# A display counts when it is a local socket (":N", "unix:N") that answers from inside the
# namespace; a TCP display (ssh forwarding) cannot be reached from there.
display_works() {
  [[ ${DISPLAY:-} =~ ^(unix)?:([0-9]+)(\.[0-9]+)?$ ]] || return 1
  [ -S "/tmp/.X11-unix/X${BASH_REMATCH[2]}" ] || return 1
  timeout 5 ip netns exec "$TB_HOST" xdpyinfo >/dev/null 2>&1
}

start_xvfb() {
  local n i
  for ((n = 90; n < 190; n++)); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
  done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  for ((i = 0; i < 500; i++)); do
    [ -S "/tmp/.X11-unix/X$n" ] && { export DISPLAY=":$n"; return 0; }
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.02
  done
  tb_fail "Xvfb did not start on :$n"
}

# The program's environment in the namespace: a session bus only where it is a socket path.
program_env() {
  local env=(env)
  [[ ${DBUS_SESSION_BUS_ADDRESS:-} == unix:path=* ]] || env+=(-u DBUS_SESSION_BUS_ADDRESS)
  echo "${env[@]}" DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb
}

tb_init
trap cleanup EXIT
echo "Building a private network: a PC at 10.0.0.1/24 and three simulated devices."
tb_standard_layout 1 0

if display_works; then
  echo "Starting scoutor on $DISPLAY; close its window to end."
  # shellcheck disable=SC2046 # the environment words are split on purpose
  ip netns exec "$TB_HOST" $(program_env) "$scoutor"
  exit $?
fi

command -v Xvfb >/dev/null || tb_fail "no usable \$DISPLAY and no Xvfb (apt-get install xvfb)"
start_xvfb
echo "No usable display: scoutor runs on a private Xvfb ($DISPLAY)."
# shellcheck disable=SC2046
ip netns exec "$TB_HOST" $(program_env) "$scoutor" &
SCOUTOR_PID=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^scoutor$' 2>/dev/null | head -1)
[ -n "$window" ] || tb_fail "the scoutor window did not appear"
# The scan takes 2 s; the check of a device that does not answer ends after 5 s.
sleep 7
kill -0 "$SCOUTOR_PID" 2>/dev/null || tb_fail "scoutor ended early"
mkdir -p "$(dirname "$screenshot")"
import -window "$window" "$screenshot" || tb_fail "cannot take the screenshot"
echo "Screenshot of the window after the first scan: $screenshot"

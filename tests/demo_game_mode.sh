#!/usr/bin/env bash
# The real tessera binary in real game mode: an Xorg server with the dummy
# video driver whose only mode is 640 x 480. The demo must take GLUT's game
# mode (an override-redirect 640 x 480 window), run, and end on Escape or on
# SIGTERM.
#
# usage: demo_game_mode.sh TESSERA TESTDATA_DIR CONFIG
set -u
tessera=$1 testdata=$2 config=$3
work=$(mktemp -d)
source "$(dirname "$0")/x_session.sh"

if ! command -v Xorg >/dev/null || [ ! -e /usr/lib/xorg/modules/drivers/dummy_drv.so ]; then
  echo "Xorg with the dummy driver is not installed (scripts/install-deps installs it)"; exit 1
fi
# Xorg needs root, as CI runs.
start_x_server Xorg -config "$config" -noreset -nolisten tcp -novtswitch -sharevts -logfile "$work/xorg.log"
trap 'kill "$x_server" 2>/dev/null; wait "$x_server" 2>/dev/null; rm -rf "$work"' EXIT

start_demo "$tessera" "$testdata/demo"
if [ -z "$window" ]; then
  fail "no window with a numeric title"; cat "$work/stderr"
else
  info=$(xwininfo -id "$window")
  [[ $info == *"Width: 640"* && $info == *"Height: 480"* && $info == *"Override Redirect State: yes"* ]] \
    && pass "game mode: an override-redirect 640 x 480 window" || fail "not in game mode: $info"
  first=$(xdotool getwindowname "$window"); sleep 0.5; second=$(xdotool getwindowname "$window")
  [ "$second" -gt "$first" ] 2>/dev/null && pass "title rises: $first $second" || fail "title: $first $second"
  xdotool key Escape
fi
wait_exit 2
[ "$status" = 0 ] && pass "Escape exits 0" || fail "Escape: status $status"
grep -q 'failed to change screen settings' "$work/stderr" && fail "freeglut could not switch modes"

# SIGTERM leaves game mode the way Escape does, with status 128 + 15.
launcher=(env --default-signal=INT,QUIT)
start_demo "$tessera" "$testdata/demo"
[ -n "$window" ] && kill -TERM "$pid"
wait_exit 5
[ "$status" = 143 ] && pass "SIGTERM in game mode exits 143" || fail "SIGTERM in game mode: status $status"

report

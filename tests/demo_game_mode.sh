#!/usr/bin/env bash
# The real tessera binary in real game mode: an Xorg server with the dummy
# video driver whose only mode is 640 x 480. The demo must take GLUT's game
# mode (an override-redirect 640 x 480 window), run, and end on Escape.
#
# usage: demo_game_mode.sh TESSERA TESTDATA_DIR CONFIG
set -u
tessera=$1 testdata=$2 config=$3
work=$(mktemp -d)
passed=0 failed=0
pass() { echo "ok: $1"; passed=$((passed + 1)); }
fail() { echo "FAILED: $1"; failed=$((failed + 1)); }

if ! command -v Xorg >/dev/null || [ ! -e /usr/lib/xorg/modules/drivers/dummy_drv.so ]; then
  echo "Xorg with the dummy driver is not installed (scripts/install-deps installs it)"; exit 1
fi
Xorg -displayfd 3 -config "$config" -noreset -nolisten tcp -novtswitch -sharevts \
  -logfile "$work/xorg.log" 3>"$work/display" >/dev/null 2>&1 &
xorg=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
if [ ! -s "$work/display" ]; then
  echo "FAILED: Xorg did not start (it needs root)"; tail -20 "$work/xorg.log"; kill "$xorg" 2>/dev/null; exit 1
fi
export DISPLAY=":$(cat "$work/display")"
trap 'kill "$xorg" 2>/dev/null; wait "$xorg" 2>/dev/null; rm -rf "$work"' EXIT

(cd "$testdata/demo" && exec "$tessera") 2>"$work/stderr" &
pid=$!
window=""
for _ in $(seq 300); do
  window=$(xdotool search --name '^[0-9]+$' 2>/dev/null | head -n 1)
  [ -n "$window" ] && break
  sleep 0.1
done
if [ -z "$window" ]; then
  fail "no window with a numeric title"; cat "$work/stderr"
else
  info=$(xwininfo -id "$window")
  [[ $info == *"Width: 640"* && $info == *"Height: 480"* && $info == *"Override Redirect State: yes"* ]] \
    && pass "game mode: an override-redirect 640 x 480 window" || fail "not in game mode: $info"
  first=$(xdotool getwindowname "$window"); sleep 0.5; second=$(xdotool getwindowname "$window")
  [ "$second" -gt "$first" ] 2>/dev/null && pass "title rises: $first $second" || fail "title: $first $second"
  xdotool key Escape
  for _ in $(seq 40); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
fi
if kill -0 "$pid" 2>/dev/null; then
  kill -9 "$pid"; fail "Escape did not end the demo within 2 s"
else
  wait "$pid"; status=$?
  [ "$status" = 0 ] && pass "Escape exits 0" || fail "Escape: status $status"
fi
grep -q 'failed to change screen settings' "$work/stderr" && fail "freeglut could not switch modes"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]

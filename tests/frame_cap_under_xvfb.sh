#!/usr/bin/env bash
# The player's frame cap, on a virtual X server that offers no swap control:
# frames come at most 60 a second by default, at most N with --max-fps N,
# and as fast as the machine allows with --max-fps 0, also while the window
# is exposed over and over; Escape ends it at once at any cap. Frames are
# counted from outside, as the window title (the music position) changes
# once a frame.
# A loaded machine may draw fewer frames than asked for, never more: the
# caps are checked from above, and the uncapped run must merely beat them.
#
# usage: frame_cap_under_xvfb.sh TESSERA TESTDATA_DIR
set -u
tessera=$1 testdata=$2
demo_dir=$testdata/demo
work=$(mktemp -d)
source "$(dirname "$0")/x_session.sh"

# A small screen keeps every frame cheap, so the machine could go far faster.
start_x_server Xvfb -screen 0 320x240x24 -nolisten tcp -noreset
trap 'kill "$x_server" 2>/dev/null; rm -rf "$work"' EXIT

# Frames per second over 6 s of the opening card, after a second to settle.
frames_per_second() {
  start_demo "$tessera" "$demo_dir" "$@"
  rate=""
  if [ -n "$window" ]; then
    sleep 1
    changes=$(timeout 6 xprop -spy -id "$window" WM_NAME 2>/dev/null | wc -l)
    rate=$(awk -v n="$changes" 'BEGIN { printf "%.1f", (n - 1) / 6 }')
  fi
  xdotool key Escape
  wait_exit 5
}

frames_per_second
capped=$rate
[ -n "$capped" ] && awk -v r="$capped" 'BEGIN { exit !(r <= 61) }' \
  && pass "by default at most 60 frames a second: $capped" || fail "default cap: ${capped:-no window} frames a second"
frames_per_second --max-fps 24
[ -n "$rate" ] && awk -v r="$rate" 'BEGIN { exit !(r <= 25) }' \
  && pass "--max-fps 24: $rate frames a second" || fail "--max-fps 24: ${rate:-no window} frames a second"
frames_per_second --max-fps 0
[ -n "$rate" ] && awk -v r="$rate" 'BEGIN { exit !(r > 61) }' \
  && pass "--max-fps 0 draws as fast as it can: $rate frames a second" \
  || fail "--max-fps 0: ${rate:-no window} frames a second, not above the cap"
# Where the machine draws twice as fast uncapped, the cap must also be met
# from below: no frame slot lost to the pacing itself.
if [ -n "$rate" ] && [ -n "$capped" ] && awk -v r="$rate" 'BEGIN { exit !(r > 120) }'; then
  awk -v r="$capped" 'BEGIN { exit !(r >= 58) }' && pass "the default cap is met: $capped frames a second" \
    || fail "only $capped frames a second with the cap, where $rate are possible"
fi

# Exposes are not frames: with the screen exposed about 40 times a second
# (xrefresh repaints the whole root, so the demo's window gets an expose
# each time), a capped demo still starts no more frames than its cap.
exposing() {
  while xrefresh; do sleep 0.025; done
}
exposing &
exposer=$!
frames_per_second --max-fps 20
kill "$exposer"; wait "$exposer" 2>/dev/null
[ -n "$rate" ] && awk -v r="$rate" 'BEGIN { exit !(r <= 21) }' \
  && pass "--max-fps 20 under 40 exposes a second: $rate frames a second" \
  || fail "--max-fps 20 under exposes: ${rate:-no window} frames a second"

# Escape is handled as it comes, not at the next frame: at one frame a
# second, Escape sent just after a frame ends the demo long before the next.
start_demo "$tessera" "$demo_dir" --max-fps 1
escape_ms=""
if [ -n "$window" ]; then
  # The first title change after the spy starts is a frame just begun.
  { read -r _; read -r _; } < <(timeout 5 xprop -spy -id "$window" WM_NAME 2>/dev/null)
  xdotool key Escape
  wait_exit 5
  escape_ms=$waited_ms
else
  kill "$pid" 2>/dev/null
fi
[ "$status" = 0 ] && [ -n "$escape_ms" ] && [ "$escape_ms" -lt 500 ] \
  && pass "Escape at --max-fps 1 ends the demo in $escape_ms ms" \
  || fail "Escape at --max-fps 1: status $status after ${escape_ms:-no window} ms"

# Anything but a whole number from 0 to 1000 is refused before the display
# is touched: one line, the usage, status 2.
for value in x -1 1001 2.5 ""; do
  "$tessera" --max-fps $value >"$work/stdout" 2>"$work/stderr"
  status=$?
  [ "$status" = 2 ] && [ "$(grep -c '^tessera: --max-fps needs' "$work/stderr")" = 1 ] &&
    grep -q '^usage: tessera' "$work/stderr" && pass "--max-fps \"$value\" refused" \
    || fail "--max-fps \"$value\": status $status, $(cat "$work/stderr")"
done
report

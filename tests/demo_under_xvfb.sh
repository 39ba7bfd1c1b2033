#!/usr/bin/env bash
# The real tessera binary on a virtual X server, run as a person would run
# it: the full-screen window, the rising title, Escape, the close button, and
# the clear failures when the music or the display is missing.
#
# usage: demo_under_xvfb.sh TESSERA CLOSE_WINDOW TESTDATA_DIR
set -u
tessera=$1 close_window=$2 testdata=$3
demo_dir=$testdata/demo          # music/mix.mp3 (a short test track), textures/
work=$(mktemp -d)
source "$(dirname "$0")/x_session.sh"

# A wide virtual screen; Xvfb offers no mode switching, so the demo takes
# its full-screen window fallback and shows the picture in the centred 4:3
# rectangle, 960 x 720 at x = 160.
start_x_server Xvfb -screen 0 1280x720x24 -nolisten tcp -noreset
trap 'kill "$x_server" 2>/dev/null; rm -rf "$work"' EXIT

# 1. The window covers the screen and its title is the music position,
#    rising from frame to frame.
start_demo "$tessera" "$demo_dir"
if [ -z "$window" ]; then
  fail "the demo opened no window with a numeric title"; cat "$work/stderr"
else
  geometry=$(xwininfo -id "$window" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}')
  [ "$geometry" = "1280x720" ] && pass "full-screen window fallback covers the screen" \
    || fail "window is $geometry, not 1280x720"
  titles=()
  for _ in 1 2 3 4; do
    titles+=("$(xdotool getwindowname "$window")")
    sleep 0.4
  done
  rising=1
  for i in 1 2 3; do
    [[ ${titles[$i]} =~ ^[0-9]+$ ]] && [ "${titles[$i]}" -gt "${titles[$((i - 1))]}" ] || rising=0
  done
  [ $rising = 1 ] && pass "title rises: ${titles[*]}" || fail "title does not rise: ${titles[*]}"
  # The opening card fades in over the middle of the picture rectangle;
  # the bands left and right of the rectangle stay black.
  for _ in $(seq 100); do [ "$(xdotool getwindowname "$window")" -ge 3000 ] 2>/dev/null && break; sleep 0.1; done
  xwd -root -silent | convert xwd:- "$work/shot.png" 2>/dev/null
  side=$(convert "$work/shot.png" \( -clone 0 -crop 160x720+0+0 \) \( -clone 0 -crop 160x720+1120+0 \) \
         -delete 0 -append -format '%[fx:maxima]' info: 2>/dev/null)
  card=$(convert "$work/shot.png" -crop 370x277+455+221 -format '%[fx:maxima]' info: 2>/dev/null)
  [ "$side" = 0 ] && pass "black outside the centred 4:3 rectangle" || fail "pixels outside the picture (max $side)"
  awk -v c="$card" 'BEGIN { exit !(c > 0.05) }' && pass "the opening card shows in the middle (max $card)" \
    || fail "no opening card in the middle (max $card)"

  # 2. Escape ends it at once, with status 0.
  xdotool key Escape
  wait_exit 5
  [ "$status" = 0 ] && [ "$waited_ms" -le 1000 ] && pass "Escape exits 0 in ${waited_ms} ms" \
    || fail "Escape: status $status after ${waited_ms} ms"
fi
if grep -v '^tessera: no audio output' "$work/stderr" | grep -q .; then
  fail "unexpected lines on stderr:"; cat "$work/stderr"
else
  pass "stderr holds at most the no-audio line"
fi

# 3. Other keys are ignored; the close button ends it like Escape.
start_demo "$tessera" "$demo_dir"
if [ -n "$window" ]; then
  xdotool key q space Return
  sleep 0.5
  kill -0 "$pid" 2>/dev/null && pass "other keys are ignored" || fail "a key other than Escape ended the demo"
  "$close_window" "$window"
  wait_exit 5
  [ "$status" = 0 ] && pass "closing the window exits 0" || fail "close: status $status"
else
  fail "second start opened no window"
fi

# 4. Without the pictures: one line per picture that cannot be loaded, and
#    the demo runs on.
mkdir -p "$work/nopictures/music"
cp "$demo_dir/music/mix.mp3" "$work/nopictures/music/"
(cd "$work/nopictures" && exec "$tessera") 2>"$work/stderr" &
pid=$!
sleep 2
if kill -0 "$pid" 2>/dev/null; then
  pass "runs on without its pictures"
  xdotool key Escape
else
  fail "ended without its pictures"
fi
wait_exit 5
lines=$(grep -c 'textures/' "$work/stderr")
[ "$status" = 0 ] && [ "$lines" = 16 ] && pass "one line for each of the 16 loads" \
  || fail "status $status, $lines lines about pictures: $(cat "$work/stderr")"

# 5. Without the music: one line naming the file and the directory, status
#    1, before any window appears.
mkdir -p "$work/empty"
(cd "$work/empty" && exec "$tessera") 2>"$work/stderr" &
pid=$!
wait_exit 5
message=$(cat "$work/stderr")
if [ "$status" = 1 ] && [ "$(wc -l <"$work/stderr")" = 1 ] &&
   [[ $message == *'"music/mix.mp3"'* ]] && [[ $message == *"$work/empty"* ]]; then
  pass "missing music: $message"
else
  fail "missing music: status $status, stderr: $message"
fi
[ -z "$(xdotool search --name '.' 2>/dev/null | xargs -r -n1 xdotool getwindowname 2>/dev/null | grep -E '^[0-9]+$')" ] \
  && pass "no window was opened without music" || fail "a window was opened without music"

# 6. Without a display: one clear line, status 1.
(cd "$demo_dir" && DISPLAY=:9999 exec "$tessera") 2>"$work/stderr"
status=$?
message=$(cat "$work/stderr")
[ "$status" = 1 ] && [[ $message == *'cannot open the X display ":9999"'* ]] \
  && pass "no display: $message" || fail "no display: status $status, stderr: $message"
(cd "$demo_dir" && env -u DISPLAY "$tessera") 2>"$work/stderr"
status=$?
[ "$status" = 1 ] && grep -q 'DISPLAY is not set' "$work/stderr" \
  && pass "DISPLAY unset: $(cat "$work/stderr")" || fail "DISPLAY unset: status $status"

report

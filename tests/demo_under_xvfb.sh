#!/usr/bin/env bash
# The real tessera binary on a virtual X server, run as a person would run
# it: the full-screen window, the rising title, Escape, the close button, the
# clear failures when the music or the display is missing, the command line,
# the resizable window and the signals that end it.
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

# 4. Without the pictures (an empty textures/): one line says so, not one
#    for each of the 16 loads, and the demo runs on.
mkdir -p "$work/nopictures/music" "$work/nopictures/textures"
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
lines=$(grep -c 'textures' "$work/stderr")
[ "$status" = 0 ] && [ "$lines" = 1 ] && grep -q "its folder .*/textures is empty" "$work/stderr" \
  && pass "one line for the empty picture folder" \
  || fail "status $status, $lines lines about pictures: $(cat "$work/stderr")"

# 5. Without the music anywhere (a copy of the demo with no data beside it,
#    started in an empty folder): one line naming every place looked at,
#    status 1, before any window appears.
mkdir -p "$work/empty" "$work/lone"
cp "$tessera" "$work/lone/tessera"
(cd "$work/empty" && TESSERA_DATA_DIR= exec "$work/lone/tessera") 2>"$work/stderr" &
pid=$!
wait_exit 5
message=$(cat "$work/stderr")
if [ "$status" = 1 ] && [ "$(wc -l <"$work/stderr")" = 1 ] &&
   [[ $message == *'music/mix.mp3'* ]] && [[ $message == *"\"$work/empty\","* ]]; then
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

# 7. The command line, read before anything else: --help and --version need
#    no display; anything unknown is refused with one line and the usage.
for option in --help --version; do
  out=$(env -u DISPLAY "$tessera" $option 2>"$work/stderr")
  status=$?
  [ "$status" = 0 ] && [[ $out =~ ^(usage:\ tessera|tessera\ [0-9]+\.[0-9]+) ]] && [ ! -s "$work/stderr" ] \
    && pass "$option exits 0: ${out%%$'\n'*}" || fail "$option: status $status, output: $out"
done
for args in "--fullscreen" "extra" "--window -x"; do
  "$tessera" $args >"$work/stdout" 2>"$work/stderr"
  status=$?
  [ "$status" = 2 ] && [ ! -s "$work/stdout" ] && [ "$(grep -c '^tessera: unknown' "$work/stderr")" = 1 ] &&
    sed -n 2p "$work/stderr" | grep -q '^usage: tessera' \
    && pass "\"$args\" refused: $(head -n 1 "$work/stderr")" || fail "\"$args\": status $status, $(cat "$work/stderr")"
done

# 8. --window: an ordinary 640 x 480 window; resized to 800 x 400 it shows
#    the picture in the centred 533 x 400 rectangle at x = 133: black beside
#    it, and the lettering of the opening card centred with the shape it has
#    at 640 x 480 (a stretched picture would make it 1.5 times as wide).
# The lettering's bounding box in a shot: "width height left right".
lettering() { convert "$1" -threshold 5% -format '%@' info: 2>/dev/null |
              awk -F'[x+]' -v w="$2" '{ print $1, $2, $3, w - $3 - $1 }'; }
start_demo "$tessera" "$demo_dir" --window
if [ -n "$window" ]; then
  geometry=$(xwininfo -id "$window" | awk '/Width:/{w=$2} /Height:/{h=$2} /Override Redirect State:/{o=$4}
                                         END{print w "x" h " " o}')
  [ "$geometry" = "640x480 no" ] && pass "--window opens a 640x480 managed window" || fail "--window: $geometry"
  # Moved on screen first, so that a shot of the window holds all of it; shot
  # once the test track's tones (and the face layers they light) are over.
  xdotool windowmove "$window" 100 100
  for _ in $(seq 100); do [ "$(xdotool getwindowname "$window")" -ge 5000 ] 2>/dev/null && break; sleep 0.1; done
  xwd -id "$window" -silent | convert xwd:- "$work/small.png" 2>/dev/null
  xdotool windowsize "$window" 800 400; sleep 0.5
  xwd -id "$window" -silent | convert xwd:- "$work/window.png" 2>/dev/null
  size=$(identify -format '%wx%h' "$work/window.png" 2>/dev/null)
  side=$(convert "$work/window.png" \( -clone 0 -crop 133x400+0+0 +repage \) \( -clone 0 -crop 134x400+666+0 +repage \) \
         -delete 0 +append -format '%[fx:maxima]' info: 2>/dev/null)
  read -r w0 h0 _ _ <<<"$(lettering "$work/small.png" 640)"
  read -r w1 h1 l1 r1 <<<"$(lettering "$work/window.png" 800)"
  [ "$size" = 800x400 ] && [ "$side" = 0 ] &&
    awk -v a="$w0 $h0" -v b="$w1 $h1" -v l="$l1" -v r="$r1" 'BEGIN { split(a, x, " "); split(b, y, " ");
      ra = x[1] / x[2]; rb = y[1] / y[2]; exit !(rb > 0.9 * ra && rb < 1.1 * ra && l - r <= 2 && r - l <= 2) }' \
    && pass "resized to $size: 4:3 picture centred (lettering ${w0}x${h0} -> ${w1}x${h1}, margins $l1 $r1)" \
    || fail "resized window $size: max $side beside the picture, lettering ${w0}x${h0} -> ${w1}x${h1} at $l1 $r1"
  # With no window manager the keys go to the window under the pointer.
  xdotool mousemove --window "$window" 400 200 key Escape
  wait_exit 5
  [ "$status" = 0 ] && pass "Escape ends the windowed demo" || fail "windowed Escape: status $status"
else
  fail "--window opened no window with a numeric title"; cat "$work/stderr"
fi

# 9. Ctrl+C, kill and a hang-up end the demo as Escape does: it cleans up and
#    exits with 128 + the signal's number (a recorder tells that exit apart
#    from being killed by the signal, which a shell reports the same way).
#    A background job inherits SIGINT ignored, so the default is put back.
#    SDL's dummy output stands in for a sound card: with a device open the
#    audio library would take SIGINT and SIGTERM for itself.
record='open my $f, ">", "$ARGV[0].pid"; my $c = fork // die; if (!$c) { shift; exec @ARGV or exit 127 }
        print $f "$c\n"; close $f; waitpid $c, 0; my $s = $?; open $f, ">", shift;
        print $f ($s & 127 ? "killed by " . ($s & 127) : "exit " . ($s >> 8)), "\n"; exit($s & 127 ? 128 + ($s & 127) : $s >> 8)'
for signal in INT TERM HUP; do
  launcher=(env --default-signal=INT,QUIT SDL_AUDIODRIVER=dummy perl -e "$record" "$work/ended")
  rm -f "$work/ended" "$work/ended.pid"
  start_demo "$tessera" "$demo_dir" --window
  unset launcher
  if [ -z "$window" ]; then
    fail "SIG$signal: no window"; kill "$(cat "$work/ended.pid" 2>/dev/null)" "$pid"; wait "$pid"; continue
  fi
  kill -s "$signal" "$(cat "$work/ended.pid")"
  wait_exit 5
  kill -9 "$(cat "$work/ended.pid")" 2>/dev/null   # still running after a timeout
  expected=$((128 + $(kill -l "$signal")))
  [ "$status" = "$expected" ] && [ "$(cat "$work/ended")" = "exit $expected" ] \
    && pass "SIG$signal: cleaned up and exited $expected in ${waited_ms} ms" \
    || fail "SIG$signal: status $status, $(cat "$work/ended" 2>/dev/null)"
done

# 10. A signal inherited as ignored stays ignored: here the hang-up that
#     nohup ignores.
launcher=(nohup)
start_demo "$tessera" "$demo_dir" --window
unset launcher
if [ -n "$window" ]; then
  ignored=$((0x$(awk '/^SigIgn:/ { print $2 }' "/proc/$pid/status") & 1))
  kill -HUP "$pid"; sleep 1
  kill -0 "$pid" 2>/dev/null && [ "$ignored" = 1 ] && pass "a hang-up ignored by nohup stays ignored" \
    || fail "ignored SIGHUP: SigIgn bit $ignored, running: $(kill -0 "$pid" 2>/dev/null && echo yes || echo no)"
  xdotool mousemove --window "$window" 400 200 key Escape
  wait_exit 5
else
  fail "no window for the ignored-signal check"
fi

report

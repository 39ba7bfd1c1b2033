#!/usr/bin/env bash
# The 640 x 480 picture on larger screens: tessera-render's stills at
# 1920 x 1080 and the real demo's screen under Xvfb at 1920 x 1080 and
# 1024 x 768 must equal the 640 x 480 still scaled by the demo's filter
# (nearest to the largest whole multiple, then linear; ImageMagick computes
# it here), black around it; the halftone stipple repeats every 32 x 2.25 =
# 72 screen pixels at 1920 x 1080, and every 32 with --native, as before.
#
# usage: picture_scaled.sh TESSERA TESSERA_RENDER TESTDATA_DIR
set -u
tessera=$1 render=$2 testdata=$3
demo_dir=$testdata/demo
work=$(mktemp -d)
source "$(dirname "$0")/x_session.sh"
trap 'kill "$x_server" 2>/dev/null; rm -rf "$work"' EXIT

# Moments: the opening card at full level with the test track's tones over
# (the picture stands still from about 10.1 s to 16 s), and the halftone mesh.
card=12000 halftone=149000
card_still=at-0$card.png

# Writes the 640 x 480 still $1 scaled into a W x H screen ($2 $3) as $4.
scaled_reference() {
  local w=$2 h=$3 rw rh k
  if [ $((w * 3)) -ge $((h * 4)) ]; then rh=$h rw=$((h * 4 / 3)); else rw=$w rh=$((w * 3 / 4)); fi
  k=$((rw / 640)); [ $((rh / 480)) -lt $k ] && k=$((rh / 480))
  local steps=(-filter point -resize $((k * 100))%)
  [ $((k * 640)) != "$rw" ] && steps+=(-filter triangle -resize "${rw}x${rh}!")
  convert "$1" "${steps[@]}" -background black -gravity center -extent "${w}x${h}" "$4"
}

# Pixels of $1 and $2 farther apart than 2% in some channel.
differing() { compare -metric AE -fuzz 2% "$1" "$2" null: 2>&1 | cut -d' ' -f1; }

# Differing pixels between a 300 x 200 crop at x, y of $1 and the same crop
# shifted right by $4: fewer when the picture repeats with that period (the
# mesh's edges and its several patterns keep them from falling to none).
shifted() {
  convert "$1" \( -clone 0 -crop "300x200+$2+$3" +repage \) \( -clone 0 -crop "300x200+$(($2 + $4))+$3" +repage \) \
    -delete 0 -compose difference -composite -threshold 10% -format '%[fx:mean*w*h]' info:
}

# 1. Offline: the scaled stills equal the 640 x 480 ones scaled; --native
#    draws at the picture rectangle's size as before. A low frame rate keeps
#    the runs short; each is the same at every frame rate it is run with.
for run in "640 --size 640x480" "scaled --size 1920x1080" "native --size 1920x1080 --native"; do
  read -r name args <<<"$run"
  (cd "$demo_dir" && "$render" --fps 4 --to $halftone $args --png-at $card,$halftone --out "$work/$name") \
    2>"$work/render.log" || { fail "tessera-render $args: $(tail -1 "$work/render.log")"; }
done
for moment in $card $halftone; do
  still=at-$(printf %06d $moment).png
  scaled_reference "$work/640/$still" 1920 1080 "$work/reference.png"
  n=$(differing "$work/scaled/$still" "$work/reference.png")
  [ "$n" -le 20 ] 2>/dev/null && pass "--size 1920x1080 at $moment ms is the 640x480 still scaled ($n pixels differ)" \
    || fail "--size 1920x1080 at $moment ms: $n pixels differ from the 640x480 still scaled"
done
still=$work/scaled/at-$halftone.png native=$work/native/at-$halftone.png
# The mesh's dots fill the lower left of the picture (640 x 480: x 20 to 250, y 300 to 390).
at72=$(shifted "$still" 285 675 72) at32=$(shifted "$still" 285 675 32)
n32=$(shifted "$native" 285 675 32) n72=$(shifted "$native" 285 675 72)
awk -v a="$at72" -v b="$at32" -v c="$n32" -v d="$n72" 'BEGIN { exit !(a * 1.5 < b && c * 1.5 < d && b > 2000) }' \
  && pass "halftone stipple repeats every 72 px scaled ($at72 vs $at32 px off at 32), every 32 native ($n32 vs $n72)" \
  || fail "halftone stipple periods: scaled off at 72: $at72, at 32: $at32; native off at 32: $n32, at 72: $n72"

# 2. The real demo: the screen at the card's moment against the 640 x 480
#    still scaled to that screen; with --native, against tessera-render's
#    --native still (the picture drawn at the rectangle's size, as before).
(cd "$demo_dir" && "$render" --fps 60 --to $card --size 1920x1080 --native --png-at $card --out "$work/native60") \
  2>"$work/render.log"
(cd "$demo_dir" && "$render" --fps 60 --to $card --png-at $card --out "$work/640at60") 2>"$work/render.log"
for run in "1920 1080" "1024 768" "1920 1080 --native"; do
  read -r w h option <<<"$run"
  start_x_server Xvfb -screen 0 "${w}x${h}x24" -nolisten tcp -noreset
  start_demo "$tessera" "$demo_dir" $option
  if [ -z "$window" ]; then
    fail "${w}x${h} $option: no window"; cat "$work/stderr"
  else
    for _ in $(seq 200); do [ "$(xdotool getwindowname "$window")" -ge $card ] 2>/dev/null && break; sleep 0.1; done
    xwd -root -silent | convert xwd:- "$work/screen.png" 2>/dev/null
    shown=$(xdotool getwindowname "$window")
    xdotool key Escape
    wait_exit 5
    if [ -n "$option" ]; then
      reference=$work/native60/$card_still
    else
      scaled_reference "$work/640at60/$card_still" "$w" "$h" "$work/reference.png"; reference=$work/reference.png
    fi
    n=$(differing "$work/screen.png" "$reference")
    [ "$shown" -lt 15500 ] && [ "$n" -le 200 ] 2>/dev/null \
      && pass "${w}x${h} $option: the screen at $shown ms is the offline picture ($n pixels differ)" \
      || fail "${w}x${h} $option: the screen at $shown ms differs from the offline picture in $n pixels"
  fi
  kill "$x_server" 2>/dev/null; wait "$x_server" 2>/dev/null
done

report

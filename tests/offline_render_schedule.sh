#!/usr/bin/env bash
# The offline renderer over the whole schedule at 5 fps with every frame
# checked: it must end with status 0 at the first frame at or past 260000 ms
# and not before, and write the frames and band rows it was asked for.
#
# usage: offline_render_schedule.sh TESSERA_RENDER TESTDATA_DIR
set -u
render=$1 testdata=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/checks.sh"

cd "$testdata/demo"
"$render" --fps 5 --check --bands --png-at 0,1000,130000 --out "$work/frames" >"$work/bands.csv" 2>"$work/stderr"
status=$?
[ "$status" = 0 ] && pass "whole schedule with --check exits 0" || { fail "status $status"; cat "$work/stderr"; }

# At 5 fps the clock steps 0, 200, ..., 259800, 260000: the update that
# reads 260000 ends the run, so the last frame drawn is at 259800.
grep -q 'the schedule ended at 260000 ms' "$work/stderr" && pass "ended at 260000 ms" \
  || fail "did not end at 260000: $(cat "$work/stderr")"
rows=$(($(wc -l <"$work/bands.csv") - 1))
last=$(tail -n 1 "$work/bands.csv" | cut -d, -f1)
[ "$rows" = 1300 ] && [ "$last" = 259800 ] && pass "1300 frames from 0 to 259800 ms" \
  || fail "$rows band rows, last at $last ms"
head -n 1 "$work/bands.csv" | grep -qx 'ms,band100,band150,band250' && pass "CSV header" || fail "CSV header"
# The test track has a bin-100 tone from 0.5 s to 1.5 s and bin 250 after.
awk -F, '$1 == 1000 && $2 > 0.4 && $4 < 0.01 {a=1} $1 == 2000 && $4 > 0.4 && $2 < 0.01 {b=1}
         $1 == 5000 && $2 == 0 && $3 == 0 && $4 == 0 {c=1} END {exit !(a && b && c)}' "$work/bands.csv" \
  && pass "bands follow the music" || fail "bands do not follow the music"
written=$(ls "$work/frames" | tr '\n' ' ')
[ "$written" = "at-000000.png at-001000.png at-130000.png " ] && pass "only the requested frames are written" \
  || fail "written: $written"
for ms in 0 1000 130000; do
  f="$work/frames/at-$(printf %06d $ms).png"
  [ "$(identify -format '%wx%h' "$f" 2>/dev/null)" = 640x480 ] && pass "frame at $ms ms written" \
    || fail "frame at $ms ms missing"
done

# --to stops early with status 0; frames before --from are drawn, not written.
"$render" --fps 10 --from 1000 --to 1500 --out "$work/range" >/dev/null 2>"$work/stderr"
status=$?
count=$(ls "$work/range" | wc -l)
[ "$status" = 0 ] && [ "$count" = 6 ] && pass "--from 1000 --to 1500 at 10 fps writes 6 frames" \
  || fail "range: status $status, $count frames"

# Bad options and an unplayable music file are refused with one line.
"$render" --fps zero >/dev/null 2>&1; [ $? = 2 ] && pass "bad --fps refused" || fail "bad --fps accepted"
mkdir -p "$work/damaged/music" "$work/damaged/textures"
head -c 4096 /dev/zero >"$work/damaged/music/mix.mp3"
(cd "$work/damaged" && "$render" --to 10) 2>"$work/stderr"
[ $? = 1 ] && grep -q 'cannot play "music/mix.mp3" in the working directory' "$work/stderr" \
  && pass "unplayable music refused" || fail "unplayable music: $(cat "$work/stderr")"

report

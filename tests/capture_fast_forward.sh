#!/usr/bin/env bash
# Frames fast-forwarded without pixels leave the next drawn frame exactly as
# a render drawn all the way: one still from every section of the schedule,
# each reached by fast-forwarding from the one before, held pixel for pixel
# against the references that tests/reference_frames.sh draws (the whole
# schedule at 60 fps, 320 x 240, every frame drawn); and two blown up to a
# larger size.
#
# usage: capture_fast_forward.sh TESSERA_RENDER ASSETS_DIR REFERENCE_DIR
set -u
render=$(realpath "$1") assets=$2 references=$(realpath "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/checks.sh"

# title card in and out, radial overlay, window, chessboard, displaced mesh
# with bars, cube volume, the gap, the volume back, halftone, the eye
# following the light, stencil floor, letterbox, second card, the last frame
moments=0,8000,18000,25900,34900,45900,54900,86900,89500,137100,187300,209300,245000,251000,259500
cd "$assets" || exit 1
"$render" --fps 60 --size 320x240 --png-at "$moments" --out "$work" 2>"$work/log"
status=$?
if [ "$status" = 0 ]; then pass "stills across the schedule rendered"; else fail "render exited $status: $(cat "$work/log")"; fi
for ms in ${moments//,/ }; do
  name=$(printf 'at-%06d.png' "$ms")
  difference=$(compare -metric AE "$work/$name" "$references/$name" null: 2>&1)
  if [ "$difference" = 0 ]; then pass "$name fast-forwarded equals the drawn reference"
  else fail "$name differs from the drawn reference in $difference pixels"; fi
done

# At a size the picture is blown up to, the blow-up's copy and quad are made
# in the skipped frames too, and dropped like the rest. Held against the same
# run with every frame drawn (--check draws all the frames of its range): the
# title card and the radial overlay, after the first frames skipped.
mkdir "$work/scaled" "$work/drawn"
"$render" --fps 60 --size 960x720 --png-at 8000,18000 --out "$work/scaled" 2>"$work/log" &&
  "$render" --fps 60 --size 960x720 --png-at 8000,18000 --out "$work/drawn" --check 2>"$work/log"
status=$?
if [ "$status" = 0 ]; then pass "blown-up stills rendered both ways"; else fail "render exited $status: $(cat "$work/log")"; fi
for name in at-008000.png at-018000.png; do
  difference=$(compare -metric AE "$work/scaled/$name" "$work/drawn/$name" null: 2>&1)
  if [ "$difference" = 0 ]; then pass "$name blown up and fast-forwarded equals the one drawn all the way"
  else fail "blown-up $name differs from the one drawn all the way in $difference pixels"; fi
done
report

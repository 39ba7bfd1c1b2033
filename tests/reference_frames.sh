#!/usr/bin/env bash
# The net of reference frames: the whole schedule rendered at the demo's own
# 60 fps with every frame checked (GL errors, matrix stacks), stills at the
# moments listed in tests/reference/moments.txt held against the references
# beside it. Drawn at 320 x 240: see the README's "Reference frames".
#
# usage: reference_frames.sh compare|approve TESSERA_RENDER TESSERA_REFCHECK ASSETS_DIR REFERENCE_DIR WORK_DIR
#   compare  exits 0 when the run ends at the schedule's end and every still
#            matches; otherwise names the moments, with pictures of each in
#            WORK_DIR/reference-report
#   approve  rewrites the references that changed from the fresh stills and
#            writes WORK_DIR/reference-changes.png to look at first
set -u
mode=$1
render=$(realpath "$2") refcheck=$(realpath "$3") assets=$(realpath "$4")
references=$(realpath "$5") work=$(realpath "$6")
stills=$work/reference-stills report=$work/reference-report
rm -rf "$stills" "$report"
mkdir -p "$stills"

moments=$(sed 's/#.*//' "$references/moments.txt" | tr -s ' \t\n' '\n' | grep . | paste -sd, -)
cd "$assets" || exit 1
# --to 260000: without it a run of stills stops after the last one.
"$render" --fps 60 --check --size 320x240 --png-at "$moments" --to 260000 --out "$stills" 2>"$work/reference-render.log"
status=$?
cat "$work/reference-render.log" >&2
if [ "$status" != 0 ] || ! grep -q 'the schedule ended at 260000 ms' "$work/reference-render.log"; then
  echo "FAIL: the checked render of the whole schedule at 60 fps did not run to the schedule's end (status $status)" >&2
  exit 1
fi

mesa=$(dpkg-query -W -f '${Version}' libgl1-mesa-dri 2>/dev/null || echo unknown)
if [ "$mode" = approve ]; then
  echo "$mesa" >"$references/mesa-version"
  "$refcheck" approve "$references/moments.txt" "$references" "$stills" "$work/reference-changes.png"
  exit
fi
"$refcheck" compare "$references/moments.txt" "$references" "$stills" "$report" && exit 0
cat >&2 <<MESSAGE
FAIL: stills differ from tests/reference (pictures: $report).
The references were drawn by Debian 12's Mesa ($(cat "$references/mesa-version" 2>/dev/null || echo unknown));
this machine has Mesa $mesa. Another Mesa may draw edges a little differently,
but not a different camera, colour or texture. If the change was meant, run
  cmake --build build --target approve-references
look at every row of build/reference-changes.png, and commit the new
references with the change that made them.
MESSAGE
exit 1

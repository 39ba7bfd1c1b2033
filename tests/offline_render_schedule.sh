#!/usr/bin/env bash
# The offline renderer over the whole schedule at 5 fps with every frame
# checked: it must end with status 0 at the first frame at or past 260000 ms
# and not before, and write the frames and band rows it was asked for. Then
# its command line, tried with bad input, as a table.
#
# usage: offline_render_schedule.sh TESSERA_RENDER TESTDATA_DIR RAISE_GL_ERROR_SO TESSERA
set -u
render=$1 testdata=$2 raise_gl_error=$3 player=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/checks.sh"

# With stills, --to 260000 (or more) asks for the run to go on to the end
# after the last one.
cd "$testdata/demo"
"$render" --fps 5 --check --bands --png-at 0,1000,130000 --to 260000 --out "$work/frames" >"$work/bands.csv" 2>"$work/stderr"
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

# --to ends the range, not included; frames before --from are drawn, not
# written.
"$render" --fps 10 --from 1000 --to 1500 --out "$work/range" >/dev/null 2>"$work/stderr"
status=$?
count=$(ls "$work/range" | wc -l)
[ "$status" = 0 ] && [ "$count" = 5 ] && pass "--from 1000 --to 1500 at 10 fps writes 5 frames" \
  || fail "range: status $status, $count frames"

# The command line, each case as a person would try it: the status and the
# first line said (on stderr, or on stdout when stderr is empty), which must
# begin with the text given. A run that fails on an output must fail before
# drawing, so none of these takes more than a moment.
mkdir -p "$work/emptymusic/music" "$work/emptymusic/textures"
: >"$work/emptymusic/music/mix.mp3"
# A data folder of its own, whose music and pictures the outputs must never
# overwrite, under whatever name they are given.
cp -rL "$testdata/demo" "$work/own"
cp "$work/own/music/mix.mp3" "$work/music-before.mp3"
ln "$work/own/music/mix.mp3" "$work/hardlink.wav"
ln -s own/textures/viso.jpg "$work/symlink.wav"
mkfifo "$work/fifo.mp4"
# The working directory deleted under the renderer's feet.
gone="mkdir '$work/gone' && cd '$work/gone' && rmdir '$work/gone' && TESSERA_DATA_DIR='$testdata/demo'"
R=\"$render\" P=\"$player\"
cases=(
  "0|usage: tessera-render [--fps N]|$R --help"
  "2|tessera-render: --fps needs a whole number from 1 to 1000, not \"-5\"|$R --fps -5 --check"
  "2|tessera-render: --fps needs a whole number from 1 to 1000, not \"zero\"|$R --fps zero --check"
  "2|tessera-render: --video needs a path, not an empty one|$R --video ''"
  "2|tessera-render: --wav needs a path, not an empty one|$R --wav ''"
  "2|tessera-render: --out needs a path, not an empty one|$R --out ''"
  "2|tessera-render: --png-at needs a whole number >= 0, not \"\"|$R --png-at ''"
  "2|tessera-render: nothing to write: give --video|$R --fps 10"
  "2|tessera-render: --from 260000 lies at or past the demo's end|$R --from 260000 --bands"
  "2|tessera-render: --png-at 1000 lies before --from 2000|$R --from 2000 --png-at 1000"
  "2|tessera-render: --png-at 260000 lies past the demo's last frame, at 259983 ms|$R --png-at 0,260000"
  "2|tessera-render: --png-at 5000 lies past --to 4000|$R --png-at 5000 --to 4000"
  "2|tessera-render: --png-at 333: the first frame at or past it is drawn at 400 ms, past --to 350|$R --fps 5 --png-at 333 --to 350"
  "2|tessera-render: no frame lies from --from 500 up to --to 900 (not included) at 1 fps|$R --fps 1 --from 500 --to 900 --wav x.wav"
  "2|tessera-render: --video x.avi: the name must end in .mp4, .mkv or .mov|$R --video x.avi"
  "2|tessera-render: --to lies before --from|$R --from 2000 --to 1000 --bands"
  "1|tessera-render: cannot write the bands to standard output: No space left on device|$R --fps 10 --to 1000 --bands >/dev/full"
  "1|tessera-render: cannot write to /sys: Permission denied|$R --to 100 --out /sys"
  "1|tessera-render: cannot play \"music/mix.mp3\" in the working directory $work/emptymusic: the file is empty (0 bytes)|cd '$work/emptymusic' && $R --check"
  "0|tessera-render: 1 still in $work/stop (6 frames drawn|$R --fps 10 --png-at 500 --out '$work/stop'"
  "0|tessera-render: 5 frames (0.500 s at 10 fps)|$R --fps 10 --to 500 --check"
  # Positions past the demo's end are refused before the arithmetic on them.
  "2|tessera-render: --png-at 9223372036854775807 lies past the demo's end at 260000 ms|$R --size 160x120 --png-at 5000,9223372036854775807 --out '$work/none'"
  "2|tessera-render: --png-at 153722867280912931 lies past the demo's end at 260000 ms|$R --png-at 153722867280912931"
  "2|tessera-render: --png-at 260001 lies past the demo's end at 260000 ms|$R --fps 1000 --png-at 260001"
  "0|tessera-render: the schedule ended at 260000 ms|$R --fps 1 --size 64x48 --from 259000 --to 9223372036854775807 --bands"
  "2|tessera-render: no frame lies from --from 259999 up to the demo's end at 260000 ms (its last frame at 60 fps is drawn at 259983 ms)|$R --from 259999 --bands"
  # An output must never be one of the run's inputs or another output.
  "2|tessera-render: --wav $work/own/music/mix.mp3 is the demo's music|cd '$work/own' && $R --to 2000 --wav music/mix.mp3"
  "2|tessera-render: --wav $work/hardlink.wav is the demo's music|cd '$work/own' && $R --to 2000 --wav ../hardlink.wav"
  "2|tessera-render: --wav $work/symlink.wav is one of the demo's pictures (textures/viso.jpg)|cd '$work/own' && $R --to 2000 --wav ../symlink.wav"
  "2|tessera-render: --video $work/x.mp4 and --wav $work/x.mp4 are the same file|$R --to 2000 --video '$work/x.mp4' --wav '$work/sub/../x.mp4'"
  "2|tessera-render: --wav $work/none/at-000500.png is also a still of this run|$R --to 2000 --png-at 500 --out '$work/none' --wav '$work/none/at-000500.png'"
  # Outputs must be files that can be written and sought in.
  "1|tessera-render: --video $work/fifo.mp4 is a FIFO, not a regular file; the video must go to a file it can seek in|timeout -s KILL 30 $R --to 100 --video '$work/fifo.mp4'"
  "1|tessera-render: --video /dev/stdout is a character device, not a regular file|$R --to 100 --video /dev/stdout >/dev/null"
  "1|tessera-render: --wav /dev/full is a character device, not a regular file|$R --to 100 --wav /dev/full"
  "2|tessera-render: --video $work/x.mka: the name must end in .mp4, .mkv or .mov|$R --video '$work/x.mka'"
  # A working directory that has gone: one line, no abort.
  "1|tessera-render: --out .: the working directory cannot be found|$gone $R --png-at 0 --to 0"
  "1|tessera-render: --video x.mp4: the working directory cannot be found|$gone $R --to 100 --video x.mp4"
  # Strict sizes, and video sizes H.264 can hold.
  "2|tessera-render: --size needs WIDTHxHEIGHT|$R --size 4294967936x480 --check"
  "2|tessera-render: --size needs WIDTHxHEIGHT|$R --size '640x 480' --check"
  "2|tessera-render: --size needs WIDTHxHEIGHT|$R --size ' 640x480' --check"
  "2|tessera-render: --size needs WIDTHxHEIGHT|$R --size '+640x480' --check"
  "2|tessera-render: --video at 8192x8192 has 262144 macroblocks a frame, more than H.264's 139264|$R --size 8192x8192 --video '$work/x.mp4'"
  "2|tessera-render: --video at 3840x2160 and 1000 fps needs 32400000 macroblocks a second, more than H.264's 16711680|$R --size 3840x2160 --fps 1000 --video '$work/x.mp4'"
  # The summary counts the stills written.
  "0|tessera-render: 1 still in $work/one (1 frame drawn|$R --png-at 0 --to 0 --out '$work/one'"
  # --help and --version to a closed or full standard output; -h in both.
  "1|tessera-render: write error: No space left on device|$R --help >/dev/full"
  "1|tessera-render: write error: Bad file descriptor|$R --help >&-"
  "1|tessera: write error: No space left on device|$P --version >/dev/full"
  "1|tessera: write error: Bad file descriptor|$P --help >&-"
  "0|usage: tessera [--window]|$P -h"
  "1|tessera-render: OpenGL error GL_INVALID_ENUM (0x0500) pending before the load of textures/radial3.jpg|LD_PRELOAD='$raise_gl_error' $R --check --to 100"
)
for c in "${cases[@]}"; do
  IFS='|' read -r want line command <<<"$c"
  (eval "$command") >"$work/out" 2>"$work/err"
  status=$?
  said=$(if [ -s "$work/err" ]; then head -n 1 "$work/err"; else head -n 1 "$work/out"; fi)
  [ "$status" = "$want" ] && [ "${said#"$line"}" != "$said" ] && pass "status $status: ${command#*$R }" \
    || fail "${command#*$R }: status $status (want $want), said: $said"
done
# The GL error of the last case came from start-up, and --check stopped there.
grep -q "^tessera-render: --check fails on the 1 OpenGL error reported above$" "$work/err" \
  && pass "--check names the start-up error as its reason" || fail "--check: $(cat "$work/err")"
mkdir -p "$work/nopics/music" "$work/nopics/textures"
cp music/mix.mp3 "$work/nopics/music/"
(cd "$work/nopics" && "$render" --check --to 100) 2>"$work/err"
[ $? = 0 ] && [ "$(grep -c textures "$work/err")" = 1 ] && pass "an empty textures/ is said in one line" \
  || fail "empty textures/: $(cat "$work/err")"
[ "$(ls "$work/stop")" = at-000500.png ] && pass "--png-at without --to stops after its still" \
  || fail "stills: $(ls "$work/stop")"
cmp -s "$work/own/music/mix.mp3" "$work/music-before.mp3" && [ ! -e "$work/x.mp4" ] && [ ! -e "$work/none" ] \
  && pass "refused outputs leave the music and the other paths untouched" || fail "a refused output wrote something"

# Every line of both programs' usage fits 80 columns.
for program in "$render" "$player"; do
  wide=$("$program" --help | awk 'length > 80' | wc -l)
  [ "$wide" = 0 ] && pass "${program##*/} --help within 80 columns" || fail "${program##*/} --help: $wide lines past 80"
done

# One line for each picture that is wanted twice and missing, one for a
# pictures' folder it may not read, and "permission denied" for a data
# folder it may not enter. Root reads everything, so these run as nobody.
as_user() { if [ "$(id -u)" = 0 ]; then setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; else "$@"; fi; }
chmod 755 "$work"
cp -rL "$testdata/demo" "$work/noviso" && rm "$work/noviso/textures/viso.jpg"
(cd "$work/noviso" && as_user "$render" --check --to 100) 2>"$work/err"
[ $? = 0 ] && [ "$(grep -c viso.jpg "$work/err")" = 1 ] && pass "a picture loaded twice and missing is said once" \
  || fail "missing viso.jpg: $(cat "$work/err")"
cp -rL "$testdata/demo" "$work/locked" && chmod 000 "$work/locked/textures"
(cd "$work/locked" && as_user "$render" --check --to 100) 2>"$work/err"
[ $? = 0 ] && [ "$(grep -c textures "$work/err")" = 1 ] && grep -q "textures cannot be read (Permission denied)" "$work/err" \
  && pass "an unreadable textures/ is said in one line" || fail "unreadable textures/: $(cat "$work/err")"
# A copy of the renderer outside its build tree finds no data of its own.
mkdir -p "$work/bin" "$work/empty" && cp "$render" "$work/bin/" && chmod 000 "$work/locked"
(cd "$work/empty" && TESSERA_DATA_DIR="$work/locked" as_user "$work/bin/${render##*/}" --check) 2>"$work/err"
[ $? = 1 ] && [ "$(wc -l <"$work/err")" = 1 ] && grep -qF "\"$work/locked\" (permission denied)" "$work/err" \
  && pass "a data folder it may not read is named as such" || fail "locked data folder: $(cat "$work/err")"
chmod 755 "$work/locked"
(cd "$work/empty" && TESSERA_DATA_DIR=$'/no/such\nplace, "here"' "$work/bin/${render##*/}" --check) 2>"$work/err"
[ $? = 1 ] && [ "$(wc -l <"$work/err")" = 1 ] && grep -qF '"/no/such\nplace, \"here\""' "$work/err" \
  && pass "the places looked at are quoted, one line" || fail "places: $(cat "$work/err")"

report

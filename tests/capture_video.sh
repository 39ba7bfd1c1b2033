#!/usr/bin/env bash
# Captures to MP4 and WAV with the real tessera-render on the test track
# (a bin-100 tone from 500 ms, a bin-250 tone from 1500 ms) and reads them
# back with ffprobe and ffmpeg: length, frame count, sync of sound and
# picture, cut ranges, picture size, repeatability, and the ways a capture
# can fail or be stopped. Nothing here depends on what a scene looks like:
# pictures are compared with the renderer's own PNG frames.
#
# usage: capture_video.sh TESSERA_RENDER TESTDATA_DIR
set -u
render=$1 testdata=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/checks.sh"
# A check is a condition evaluated when it is called; a program's exit status
# is read into a variable at once, since by then $? belongs to whatever ran
# last.
check() { if eval "$2"; then pass "$1"; else fail "$1"; fi; }

probe() { ffprobe -v error -select_streams "$2" -show_entries "$3" -of default=nw=1:nk=1 "$1"; }
# First sample (of the first second, mono) above the threshold, after an
# optional filter: where a tone starts in the file.
onset() {
  ffmpeg -v error -i "$1" -t 1 -map 0:a ${3:+-af "$3"} -ac 1 -f s16le - |
    od -An -v -td2 -w2 | awk -v t="$2" '!f && ($1 > t || -$1 > t) { print NR - 1; f = 1 } END { if (!f) print -1 }'
}
near() { awk -v a="$1" -v b="$2" -v d="$3" 'BEGIN { exit !(a - b <= d && b - a <= d) }'; }
mae() { compare -metric MAE "$1" "$2" null: 2>&1 | cut -d' ' -f1; }

cd "$testdata/demo"

# The whole demo, small and at 5 fps: 260.0 s of picture and of sound.
"$render" --fps 5 --size 160x120 --video "$work/whole.mp4" --wav "$work/whole.wav" 2>"$work/stderr"
status=$?
check "whole capture exits 0" '[ $status = 0 ]'
check "one summary line after the schedule's end" \
  'grep -q "ended at 260000 ms" "$work/stderr" && grep -q "^tessera-render: 1300 frames (260.000 s at 5 fps)" "$work/stderr"'
check "H.264 yuv420p 160x120 at 5 fps, AAC 44.1 kHz stereo" \
  '[ "$(probe "$work/whole.mp4" v stream=codec_name,pix_fmt,width,height,r_frame_rate | tr "\n" " ")" = "h264 160 120 yuv420p 5/1 " ] &&
   [ "$(probe "$work/whole.mp4" a stream=codec_name,sample_rate,channels | tr "\n" " ")" = "aac 44100 2 " ]'
frames=$(ffprobe -v error -count_packets -select_streams v -show_entries stream=nb_read_packets -of csv=p=0 "$work/whole.mp4")
check "1300 frames = 260 s x 5 fps" '[ "$frames" = 1300 ]'
check "picture, sound and file last 260.0 s (within a frame)" \
  'near "$(probe "$work/whole.mp4" v stream=duration)" 260 0.2 && near "$(probe "$work/whole.mp4" a stream=duration)" 260 0.2 &&
   near "$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/whole.mp4")" 260 0.2'
check "the WAV holds exactly 260 s" '[ "$(probe "$work/whole.wav" a stream=duration_ts)" = 11466000 ]'
check "index before the media data (plays while streaming)" \
  '[ "$(grep -obUa -m1 moov "$work/whole.mp4" | cut -d: -f1)" -lt "$(grep -obUa -m1 mdat "$work/whole.mp4" | cut -d: -f1)" ]'
check "no progress line when stderr is not a terminal" '! grep -q $'"'"'\r'"'"' "$work/stderr"'
check "the 500 ms tone starts at sample 22050 of the WAV" 'near "$(onset "$work/whole.wav" 8000)" 22051 1'
check "and of the AAC, within one codec frame" 'near "$(onset "$work/whole.mp4" 8000)" 22051 1024'

# A cut from 1000 up to 6000 ms (not included) at 2 fps: both streams start
# at 0 in the file. Frame n of the file must be the frame drawn at
# 1000 + 500 n ms (nearer to it than to its neighbours), and the 1500 ms tone
# must sound at 0.5 s.
"$render" --fps 2 --size 320x240 --to 7000 --out "$work/ref" 2>/dev/null
for run in a b; do
  "$render" --fps 2 --size 320x240 --from 1000 --to 6000 --video "$work/cut-$run.mp4" 2>/dev/null
done
ffmpeg -v error -i "$work/cut-a.mp4" "$work/cut-%02d.png"
check "cut: 10 frames, 5.0 s of picture and sound" \
  '[ "$(ls "$work"/cut-*.png | wc -l)" = 10 ] && near "$(probe "$work/cut-a.mp4" a stream=duration)" 5 0.05 &&
   near "$(probe "$work/cut-a.mp4" v stream=duration)" 5 0.01'
aligned=0
for n in 0 1 2 3 4 5 6 7 8 9; do
  got="$work/cut-$(printf %02d $((n + 1))).png"
  right=$(mae "$got" "$work/ref/frame-$(printf %06d $((n + 2))).png")
  early=$(mae "$got" "$work/ref/frame-$(printf %06d $((n + 1))).png")
  late=$(mae "$got" "$work/ref/frame-$(printf %06d $((n + 3))).png")
  awk -v r="$right" -v e="$early" -v l="$late" 'BEGIN { exit !(r < e && r < l) }' && aligned=$((aligned + 1))
done
check "cut: every frame is the frame drawn at its time ($aligned of 10)" '[ "$aligned" = 10 ]'
check "cut: the 1500 ms tone sounds at 0.5 s" \
  'near "$(onset "$work/cut-a.mp4" 6000 highpass=f=8000,highpass=f=8000,highpass=f=8000)" 22051 1024'
check "two captures decode to the same frames and sound" \
  'cmp -s <(ffmpeg -v error -i "$work/cut-a.mp4" -f framemd5 -) <(ffmpeg -v error -i "$work/cut-b.mp4" -f framemd5 -)'

# At 24 fps a frame carries 1837.5 samples: the share of each frame is
# rounded so that nothing is lost or doubled (49 frames, 0 to 2000 ms).
"$render" --fps 24 --to 2001 --wav "$work/24.wav" 2>/dev/null
check "24 fps: the WAV holds 49 x 44100 / 24 samples" '[ "$(probe "$work/24.wav" a stream=duration_ts)" = 90037 ]'

# A range is as long as asked, --to not included: 20 s up to 30 s at 30 fps
# is 300 frames and 10.0 s of picture and of sound, in MP4 and WAV alike.
"$render" --fps 30 --from 20000 --to 30000 --size 160x120 --video "$work/ten.mp4" --wav "$work/ten.wav" 2>"$work/stderr"
frames=$(ffprobe -v error -count_packets -select_streams v -show_entries stream=nb_read_packets -of csv=p=0 "$work/ten.mp4")
check "20000 up to 30000 ms at 30 fps: 300 frames, 10.0 s of both streams" \
  'grep -q "^tessera-render: 300 frames (10.000 s at 30 fps)" "$work/stderr" && [ "$frames" = 300 ] &&
   near "$(probe "$work/ten.mp4" v stream=duration)" 10 0.001 && near "$(probe "$work/ten.mp4" a stream=duration)" 10 0.03 &&
   [ "$(probe "$work/ten.wav" a stream=duration_ts)" = 441000 ]'

# The container follows the name: Matroska and QuickTime hold the same
# streams; a name that fits neither is refused before anything is drawn.
for ext in mkv mov; do
  "$render" --fps 10 --to 1000 --size 160x120 --video "$work/c.$ext" 2>/dev/null
  check ".$ext: $(probe "$work/c.$ext" v stream=codec_name) and AAC, 10 frames, in $(ffprobe -v error -show_entries format=format_name -of csv=p=0 "$work/c.$ext")" \
    '[ "$(probe "$work/c.$ext" v stream=codec_name)$(probe "$work/c.$ext" a stream=codec_name)" = h264aac ] &&
     ffprobe -v error -show_entries format=format_name -of csv=p=0 "$work/c.$ext" | grep -q "$([ $ext = mkv ] && echo matroska || echo mov)" &&
     [ "$(ffprobe -v error -count_packets -select_streams v -show_entries stream=nb_read_packets -of csv=p=0 "$work/c.$ext")" = 10 ]'
done

# On a terminal, a progress line with the share done and the time left.
script -qec "$render --fps 5 --to 20000 --size 160x120 --check" /dev/null >"$work/tty" 2>&1
check "progress on a terminal" 'grep -q "%  frame [0-9]* of 100" "$work/tty"'

# Another shape: the 4:3 picture centred between black bars.
"$render" --size 320x180 --png-at 3000 --out "$work/wide" 2>/dev/null
check "320x180: 240x180 picture between 40-pixel black bars" \
  '[ "$(convert "$work/wide/at-003000.png" -crop 40x180+0+0 +repage -format "%[fx:maxima]" info:)" = 0 ] &&
   [ "$(convert "$work/wide/at-003000.png" -crop 40x180+280+0 +repage -format "%[fx:maxima]" info:)" = 0 ] &&
   [ "$(convert "$work/wide/at-003000.png" -crop 240x180+40+0 +repage -format "%[fx:maxima > 0]" info:)" = 1 ]'

# Paths that cannot be written fail before anything is drawn.
touch "$work/plain"
for out in "--video $work/missing/x.mp4" "--wav $work/plain/x.wav"; do
  $render --fps 10 $out --out "$work/none" 2>"$work/stderr"
  status=$?
  check "unwritable ${out%% *} refused at once" \
    '[ $status = 1 ] && [ "$(wc -l <"$work/stderr")" = 1 ] && grep -q "cannot write" "$work/stderr" && [ ! -e "$work/none" ]'
done

# A write error part way: one line, status 1, no partial file left behind.
(ulimit -f 64; trap '' XFSZ; exec "$render" --fps 60 --video "$work/big.mp4") 2>"$work/stderr"
status=$?
check "file size limit: status 1, one line, partial file removed" \
  '[ $status = 1 ] && [ "$(wc -l <"$work/stderr")" = 1 ] && grep -q "File too large" "$work/stderr" && [ ! -e "$work/big.mp4" ]'

# Stop signals: the file is finished and plays to the last frame written.
# Started from a script, the program would inherit SIGINT ignored: reset it.
wait_for() { for _ in $(seq 600); do [ -e "$1" ] && return 0; sleep 0.1; done; return 1; }
for sig in INT TERM HUP; do
  rm -rf "$work/sig" "$work/sig.mp4"
  env --default-signal=INT,QUIT "$render" --fps 10 --size 160x120 --video "$work/sig.mp4" --out "$work/sig" \
    2>"$work/stderr" &
  pid=$!
  wait_for "$work/sig/frame-000010.png" && kill -s $sig $pid
  wait $pid
  status=$?
  n=$(ffprobe -v error -count_packets -select_streams v -show_entries stream=nb_read_packets -of csv=p=0 "$work/sig.mp4")
  check "SIG$sig: status $status, file finished with $n frames, summary says interrupted" \
    '[ $status = $((128 + $(kill -l $sig))) ] && [ "${n:-0}" -ge 10 ] && [ -z "$(ffmpeg -v error -i "$work/sig.mp4" -f null - 2>&1)" ] &&
     grep -q "interrupted by SIG$sig: " "$work/stderr"'
done
rm -rf "$work/sig"
(trap '' HUP; exec "$render" --fps 10 --size 160x120 --to 3000 --video "$work/hup.mp4" --out "$work/sig") 2>/dev/null &
pid=$!
wait_for "$work/sig/frame-000010.png" && kill -s HUP $pid
wait $pid
status=$?
check "SIGHUP inherited as ignored stays ignored" '[ $status = 0 ] && [ "$(ls "$work/sig" | wc -l)" = 30 ]'

# Write failures that come as signals, and repeated stop signals. Each case
# keeps its own status, so that no check reads a status another one set.
plays() { [ -s "$1" ] && [ -z "$(ffmpeg -v error -i "$1" -f null - 2>&1)" ]; }
# A reader that goes away (after the pipe's 64 KiB are full): the bands fail
# as a write error, the video goes.
rm -f "$work/pipe.mp4"
{ "$render" --fps 60 --size 160x120 --to 60000 --bands --video "$work/pipe.mp4" 2>"$work/stderr"; echo $? >"$work/status"; } |
  head -n 2 >/dev/null
status=$(cat "$work/status")
if [ "$status" = 1 ] && [ "$(wc -l <"$work/stderr")" = 1 ] && grep -q "Broken pipe" "$work/stderr" && [ ! -e "$work/pipe.mp4" ]; then
  pass "closed pipe: status 1, one line, the video removed"
else fail "closed pipe: status $status, $(ls "$work"/pipe.mp4 2>&1), said: $(cat "$work/stderr")"; fi
# A file size limit, with SIGXFSZ at its default: the file goes, in one line.
for out in "--video $work/limit.mp4" "--wav $work/limit.wav"; do
  (ulimit -f 64; exec "$render" --fps 60 --size 320x240 $out) 2>"$work/stderr"
  status=$?
  if [ "$status" = 1 ] && [ "$(wc -l <"$work/stderr")" = 1 ] && grep -q "File too large" "$work/stderr" && [ ! -e "${out#* }" ]; then
    pass "file size limit on ${out%% *}: status 1, one line, file removed"
  else fail "file size limit on ${out%% *}: status $status, said: $(cat "$work/stderr")"; fi
done
# TERM, TERM, INT in a row: the first one is the one reported, and the file
# is either finished and plays or, stopped while it was being finished, gone.
# The kernel hands over signals pending together lowest number first (INT
# before TERM), so each is sent once the one before has had time to arrive.
rm -rf "$work/sig" "$work/rep.mp4"
env --default-signal=INT,QUIT "$render" --fps 10 --size 160x120 --video "$work/rep.mp4" --out "$work/sig" 2>"$work/stderr" &
pid=$!
wait_for "$work/sig/frame-000010.png" && kill -s TERM $pid && sleep 0.5 && kill -s TERM $pid 2>/dev/null &&
  sleep 0.2 && kill -s INT $pid 2>/dev/null
wait $pid
status=$?
if [ "$status" = 143 ] && grep -q "^tessera-render: interrupted by SIGTERM" "$work/stderr" &&
   { [ ! -e "$work/rep.mp4" ] || plays "$work/rep.mp4"; }; then
  pass "TERM, TERM, INT: status 143, SIGTERM reported, no broken file"
else fail "TERM, TERM, INT: status $status, said: $(cat "$work/stderr")"; fi
# A second signal while a large video is being finished ends the run at once
# and removes the unfinished file.
rm -f "$work/slow.mp4"
env --default-signal=INT,QUIT "$render" --fps 60 --size 3840x2160 --video "$work/slow.mp4" 2>"$work/stderr" &
pid=$!
for _ in $(seq 600); do [ "$(stat -c %s "$work/slow.mp4" 2>/dev/null || echo 0)" -gt 200000 ] && break; sleep 0.1; done
kill -s INT $pid
sleep 0.3
kill -s INT $pid
started=$(date +%s%N)
wait $pid
status=$?
took=$((($(date +%s%N) - started) / 1000000))
if [ "$status" = 130 ] && [ ! -e "$work/slow.mp4" ] && [ "$took" -lt 2000 ] && grep -q "second SIGINT" "$work/stderr"; then
  pass "a second SIGINT while finishing: status 130 in $took ms, the unfinished file removed"
else fail "second SIGINT: status $status after $took ms, $(ls "$work"/slow.mp4 2>&1), said: $(cat "$work/stderr")"; fi

report

#!/usr/bin/env bash
# The encoding presets, a render split into parts and joined, --jobs, and
# the recipes that spread the parts over machines, with the real
# tessera-render on the test track, read back with ffprobe and ffmpeg.
# Small pictures and short ranges: what is checked is the files' make-up,
# timing and content, not what a scene looks like.
#
# usage: capture_parts.sh TESSERA_RENDER TESTDATA_DIR SCRIPTS_DIR
set -u
render=$(realpath "$1") testdata=$2 scripts=$(realpath "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/checks.sh"
check() { if eval "$2"; then pass "$1"; else fail "$1"; fi; }

probe() { ffprobe -v error -select_streams "$2" -show_entries "$3" -of default=nw=1:nk=1 "$1" | tr '\n' ' '; }
frames_md5() { ffmpeg -v error -i "$1" -f framemd5 - | grep -v '^#' | md5sum; }
sound_md5() { ffmpeg -v error -i "$1" -map 0:a -f s16le - | md5sum; }
# presentation times and durations of one stream's packets, in order of time
timing() { ffprobe -v error -select_streams "$2" -show_entries packet=pts,duration -of csv=p=0 "$1" | sort -n; }
# refused: status 2 (or 1), exactly one line on stderr, no file at $3
refused() {
  local want=$1 out=$3 status lines
  shift 3
  "$render" "$@" 2>"$work/err" >/dev/null
  status=$? lines=$(wc -l <"$work/err")
  [ "$status" = "$want" ] && [ "$lines" = 1 ] && [ ! -e "$out" ] || { echo "  status $status, $lines lines: $(cat "$work/err")"; return 1; }
}

cd "$testdata/demo" || exit 1
range=(--fps 30 --size 160x120 --from 1000 --to 4000)  # 90 frames

# Presets: what each file holds.
"$render" "${range[@]}" --preset web --video "$work/web.mp4" 2>/dev/null
"$render" "${range[@]}" --preset archive --video "$work/archive.mkv" 2>/dev/null
"$render" "${range[@]}" --out "$work/png" --wav "$work/range.wav" 2>/dev/null
check "web: H.264 High yuv420p with B-frames, AAC-LC 48 kHz stereo" \
  '[ "$(probe "$work/web.mp4" v stream=codec_name,profile,pix_fmt,has_b_frames)" = "h264 High 2 yuv420p " ] &&
   [ "$(probe "$work/web.mp4" a stream=codec_name,profile,sample_rate,channels)" = "aac LC 48000 2 " ]'
keys=$(ffprobe -v error -select_streams v -show_entries packet=pts,flags -of csv=p=0 "$work/web.mp4" | grep K | cut -d, -f1 | sort -n | paste -sd' ')
check "web: a key frame every half second (15 frames at 30 fps)" '[ "$keys" = "0 7680 15360 23040 30720 38400" ]'
check "web: index at the front, no edit list, picture and sound from 0" \
  '[ "$(grep -obUa -m1 moov "$work/web.mp4" | cut -d: -f1)" -lt "$(grep -obUa -m1 mdat "$work/web.mp4" | cut -d: -f1)" ] &&
   ! grep -qa elst "$work/web.mp4" && [ "$(probe "$work/web.mp4" v stream=start_time)" = "0.000000 " ] &&
   [ "$(probe "$work/web.mp4" a stream=start_time)" = "0.000000 " ]'
check "archive: FFV1 RGB and FLAC at 44.1 kHz in Matroska" \
  '[ "$(probe "$work/archive.mkv" v stream=codec_name,pix_fmt)" = "ffv1 bgr0 " ] &&
   [ "$(probe "$work/archive.mkv" a stream=codec_name,sample_rate)" = "flac 44100 " ]'
ffmpeg -v error -i "$work/archive.mkv" -frames:v 90 "$work/archive-%03d.png"
same=0
for n in 1 45 90; do
  f=$(printf '%03d' $n) k=$((30 + n - 1))
  [ "$(compare -metric AE "$work/archive-$f.png" "$work/png/frame-$(printf %06d $k).png" null: 2>&1)" = 0 ] && same=$((same + 1))
done
check "archive: first, middle and last frames are the rendered pixels bit for bit" '[ "$same" = 3 ]'
check "archive: the FLAC is the WAV of the range sample for sample" '[ "$(sound_md5 "$work/archive.mkv")" = "$(sound_md5 "$work/range.wav")" ]'

# Parts joined by hand, given in any order, against the single renders.
for k in 1 2 3; do "$render" "${range[@]}" --preset archive --part $k/3 --video "$work/a$k.mkv" 2>/dev/null; done
check "a piece holds video alone, with its tag" \
  '[ "$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$work/a2.mkv")" = video ] &&
   ffprobe -v error -show_entries format_tags=TESSERA_PIECE -of csv=p=0 "$work/a2.mkv" | grep -q "^part 2/3 .*frames 60+30 range 30-120$"'
"$render" --join "$work/joined.mkv" "$work/a3.mkv" "$work/a1.mkv" "$work/a2.mkv" 2>"$work/err"
status=$?
check "archive: the join has exactly the single render's decoded frames and sound" \
  '[ $status = 0 ] && [ "$(frames_md5 "$work/joined.mkv")" = "$(frames_md5 "$work/archive.mkv")" ]'
"$render" "${range[@]}" --preset web --jobs 2 --video "$work/jobs.mp4" 2>"$work/err"
status=$?
check "web --jobs 2 exits 0, leaves no pieces behind" '[ $status = 0 ] && [ -z "$(ls -A "$work" | grep pieces)" ]'
check "web --jobs 2: frame count, times and durations of the single render" \
  '[ "$(timing "$work/jobs.mp4" v)" = "$(timing "$work/web.mp4" v)" ] && [ "$(timing "$work/jobs.mp4" v | wc -l)" = 90 ] &&
   [ "$(timing "$work/jobs.mp4" a)" = "$(timing "$work/web.mp4" a)" ]'
check "web --jobs 2: the sound sample for sample the single render's" '[ "$(sound_md5 "$work/jobs.mp4")" = "$(sound_md5 "$work/web.mp4")" ]'
script -qec "$render ${range[*]} --jobs 2 --video $work/tty.mp4" /dev/null >"$work/tty" 2>&1
check "--jobs on a terminal: one progress line with each part's rate and the whole's time left" \
  'grep -q "1: [0-9]* fps .* 2: [0-9]* fps .*all: [0-9]*:[0-9][0-9] left" "$work/tty"'

# The recipes for many machines: GNU parallel with two job slots here, and
# the Slurm array's tasks run by hand with the array variables set, its
# submission against a stand-in sbatch that records what it was given.
export TESSERA_RENDER=$render TESSERA_DATA_DIR=$PWD
"$scripts/render-parallel" 3 "$work/parallel.mkv" 2/: -- "${range[@]}" --preset archive >/dev/null 2>&1
status=$?
check "GNU parallel recipe: the joined render is the single one, no pieces left" \
  '[ $status = 0 ] && [ "$(frames_md5 "$work/parallel.mkv")" = "$(frames_md5 "$work/archive.mkv")" ] &&
   [ -z "$(ls -A "$work" | grep pieces)" ]'
for k in 1 2 3; do
  SLURM_ARRAY_TASK_ID=$k "$scripts/render-slurm" part 3 "$work/slurm" -- "${range[@]}" --preset archive 2>/dev/null
done
"$scripts/render-slurm" join 3 "$work/slurm" "$work/slurm.mkv" -- "${range[@]}" --preset archive 2>/dev/null
status=$?
check "Slurm recipe: three array tasks and the join make the single render, pieces removed" \
  '[ $status = 0 ] && [ "$(frames_md5 "$work/slurm.mkv")" = "$(frames_md5 "$work/archive.mkv")" ] && [ -z "$(ls -A "$work/slurm")" ]'
SLURM_ARRAY_TASK_ID=4 "$scripts/render-slurm" part 3 "$work/slurm" -- "${range[@]}" 2>/dev/null
status=$?
check "Slurm recipe: a task outside the array's parts refused" '[ $status = 2 ] && [ -z "$(ls -A "$work/slurm")" ]'
mkdir -p "$work/bin"
cat >"$work/bin/sbatch" <<STUB
#!/bin/sh
echo "\$*" >>"$work/sbatch.log"
echo \$((4241 + \$(wc -l <"$work/sbatch.log")))
STUB
chmod +x "$work/bin/sbatch"
PATH=$work/bin:$PATH "$scripts/render-slurm" submit 3 "$work/slurm" "$work/slurm.mp4" --time=1:00:00 -- --size 1920x1080 >/dev/null
check "Slurm recipe: the array of 3 parts, then the join after all of it" \
  'sed -n 1p "$work/sbatch.log" | grep -q -- "--array=1-3 .*--time=1:00:00 .*render-slurm part 3 $work/slurm -- --size 1920x1080$" &&
   sed -n 2p "$work/sbatch.log" | grep -q -- "--dependency=afterok:4242 .*render-slurm join 3 $work/slurm $work/slurm.mp4 -- --size 1920x1080$"'
unset TESSERA_RENDER TESSERA_DATA_DIR

# Bad input: one line, the documented status, nothing that looks complete.
out=$work/bad.mp4
check "--part 0/3 refused" 'refused 2 x "$out" "${range[@]}" --part 0/3 --video "$out"'
check "--part 4/3 refused" 'refused 2 x "$out" "${range[@]}" --part 4/3 --video "$out"'
check "--part 1/4 of a 3-frame range refused" 'refused 2 x "$out" --fps 30 --from 1000 --to 1100 --part 1/4 --video "$out"'
check "--part with stills refused" 'refused 2 x "$out" "${range[@]}" --part 1/2 --png-at 2000 --video "$out"'
check "--jobs without --video refused" 'refused 2 x "$out" "${range[@]}" --jobs 2 --wav "$work/x.wav"'
check "an unknown preset refused" 'refused 2 x "$out" "${range[@]}" --preset youtube --video "$out"'
check "archive into .mp4 refused" 'refused 2 x "$out" "${range[@]}" --preset archive --video "$out"'
check "--preset without --video refused" 'refused 2 x "$out" "${range[@]}" --preset web --wav "$work/x.wav"'
"$render" --fps 30 --size 320x240 --from 1000 --to 4000 --preset archive --part 2/3 --video "$work/size.mkv" 2>/dev/null
"$render" --fps 15 --size 160x120 --from 1000 --to 4000 --preset archive --part 2/3 --video "$work/rate.mkv" 2>/dev/null
"$render" "${range[@]}" --part 2/3 --video "$work/preset.mp4" 2>/dev/null
cp "$work/a2.mkv" "$work/cut.mkv" && truncate -s $(($(stat -c%s "$work/a2.mkv") / 2)) "$work/cut.mkv"
j=$work/j.mkv
check "a join with a piece of another size refused" 'refused 1 x "$j" --join "$j" "$work/a1.mkv" "$work/size.mkv" "$work/a3.mkv"'
check "a join with a piece of another rate refused" 'refused 1 x "$j" --join "$j" "$work/a1.mkv" "$work/rate.mkv" "$work/a3.mkv"'
check "a join with a piece of another preset refused" 'refused 1 x "$j" --join "$j" "$work/a1.mkv" "$work/preset.mp4" "$work/a3.mkv"'
check "a join with a piece missing refused" 'refused 1 x "$j" --join "$j" "$work/a1.mkv" "$work/a3.mkv"'
check "a join with a piece twice refused" 'refused 1 x "$j" --join "$j" "$work/a1.mkv" "$work/a2.mkv" "$work/a2.mkv" "$work/a3.mkv"'
check "a join with a truncated piece refused" 'refused 1 x "$j" --join "$j" "$work/a1.mkv" "$work/cut.mkv" "$work/a3.mkv"'
check "a join of archive pieces into .mp4 refused" 'refused 1 x "$work/j.mp4" --join "$work/j.mp4" "$work/a1.mkv" "$work/a2.mkv" "$work/a3.mkv"'
# Runs long enough to be stopped mid-way: the signal comes once the piece
# has been started, however fast the machine.
until_there() { for _ in $(seq 300); do eval "$1" && return 0; sleep 0.1; done; return 1; }
"$render" --fps 30 --size 160x120 --preset archive --part 1/2 --video "$work/killed.mkv" 2>"$work/err" &
until_there '[ -s "$work/killed.mkv" ]'
kill -TERM $!
wait $!
status=$?
check "a part stopped mid-render deletes its piece and says so" \
  '[ $status = 143 ] && [ ! -e "$work/killed.mkv" ] && [ "$(wc -l <"$work/err")" = 1 ]'
"$render" --fps 30 --size 160x120 --jobs 2 --video "$work/stopped.mp4" 2>"$work/err" &
until_there 'ls -A "$work" | grep -q pieces' && sleep 1
kill -TERM $!
wait $!
status=$?
check "--jobs stopped by a signal stops its parts and leaves no output and no pieces" \
  '[ $status = 143 ] && [ ! -e "$work/stopped.mp4" ] && [ -z "$(ls -A "$work" | grep pieces)" ] && [ "$(wc -l <"$work/err")" = 1 ] &&
   ! pgrep -f "$work/.stopped" >/dev/null'
for k in 1 2 3; do "$render" "${range[@]}" --part $k/3 --video "$work/d$k.mp4" 2>/dev/null; done
if unshare -m true 2>/dev/null; then
  unshare -m bash -c "mkdir -p '$work/small' && mount -t tmpfs -o size=64k tmpfs '$work/small' &&
    '$render' --join '$work/small/full.mp4' '$work/d1.mp4' '$work/d2.mp4' '$work/d3.mp4'; echo \$? >'$work/status';
    ls -A '$work/small' >'$work/left'" 2>"$work/err"
  check "a join onto a full disk fails with one line and leaves no file" \
    '[ "$(cat "$work/status")" = 1 ] && [ ! -s "$work/left" ] && [ "$(wc -l <"$work/err")" = 1 ] && grep -q "space" "$work/err"'
else
  echo "skipped: a full disk needs a private tmpfs (unshare -m)"
fi

report

#!/usr/bin/env bash
# The encoding presets with the real tessera-render on the test track, read
# back with ffprobe and ffmpeg.
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

# Bad input: one line, the documented status, nothing that looks complete.
out=$work/bad.mp4
check "an unknown preset refused" 'refused 2 x "$out" "${range[@]}" --preset youtube --video "$out"'
check "archive into .mp4 refused" 'refused 2 x "$out" "${range[@]}" --preset archive --video "$out"'
check "--preset without --video refused" 'refused 2 x "$out" "${range[@]}" --preset web --wav "$work/x.wav"'

report

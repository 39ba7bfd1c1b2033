#!/usr/bin/env bash
# Three whole live runs of the demo back to back on a virtual X server, each
# playing through a PulseAudio server of the script's own (null sink,
# private socket) that is killed and started again twice during the run, so
# the demo loses its sound and gets it back. Each run is watched through
# /proc every 5 s, with the music position read from the window title:
#   - each run ends by itself with status 0 when the schedule ends at 260 s,
#     having said twice that the sound went away and twice that it is back;
#   - threads and open files do not change between 20 s and the first loss,
#     nor once the sound is back (the second return leaves what the first
#     did: nothing is left behind by a loss and a return);
#   - resident memory may grow while a scene is first drawn (the software
#     renderer keeps what a new state or a bigger frame needed) but not
#     while a scene already drawn goes on (95-120 s: the cube volume's second
#     stretch; 150-205 s: the halftone mesh scene), both windows holding a
#     loss or a return; and every run holds what the first did just before
#     the first scene that the renderer finds heavy (the cube volume at
#     55 s). Past that point a run's memory follows the renderer's peak
#     needs, which differ from run to run by tens of MiB either way: the
#     last figures are shown, not judged.
# About 15 minutes; not part of CI. Run it with nice: the demo draws
# unpaced under Xvfb.
#
# usage: tests/soak.sh [TESSERA [ASSETS_DIR [RUNS]]]   (default: build/tessera build/assets 3)
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
tessera=$(realpath "${1:-$root/build/tessera}") assets=$(realpath "${2:-$root/build/assets}") runs=${3:-3}
rss_slack_kib=8192      # allowed RSS rise while a drawn scene goes on (allocator noise)
early_ms=54000          # the last sample before this music position is compared across runs
losses="100000 170000"  # music positions (ms) at which the sound server is killed
work=$(mktemp -d)
source "$root/tests/x_session.sh"
start_x_server Xvfb -screen 0 640x480x24 -nolisten tcp -noreset

# The sound server, in the scratch folder: its home, runtime directory and
# socket are there, so it touches nothing of the machine's.
export HOME=$work XDG_RUNTIME_DIR=$work PULSE_SERVER=unix:$work/native SDL_AUDIODRIVER=pulseaudio
start_pulse() {
  rm -f "$work/pulse/pid"   # a server killed a moment ago may not be reaped yet
  pulseaudio --daemonize=yes --exit-idle-time=-1 -n --disable-shm=yes -L module-null-sink \
    -L "module-native-protocol-unix socket=$work/native auth-anonymous=1" 2>>"$work/pulse.log" ||
    { echo "FAILED: cannot start pulseaudio"; cat "$work/pulse.log"; exit 1; }
}
kill_pulse() { kill -9 "$(cat "$work/pulse/pid" 2>/dev/null)" 2>/dev/null; }
trap 'kill "$x_server" 2>/dev/null; kill_pulse; rm -rf "$work"' EXIT
start_pulse

field() { awk -v k="$1:" '$1 == k { print $2 }' "/proc/$pid/status" 2>/dev/null; }
early_first_run=""

for run in $(seq "$runs"); do
  start=$(date +%s)
  start_demo "$tessera" "$assets"
  : >"$work/samples"   # seconds music_ms rss_kib threads fds losses_so_far
  lost=0
  while kill -0 "$pid" 2>/dev/null; do
    music=$(xdotool getwindowname "$window" 2>/dev/null)
    [[ "$music" =~ ^[0-9]+$ ]] || music=-1
    rss=$(field VmRSS) threads=$(field Threads) fds=$(ls "/proc/$pid/fd" 2>/dev/null | wc -l)
    elapsed=$(($(date +%s) - start))
    [ -n "$rss" ] && echo "$elapsed $music $rss $threads $fds $lost" >>"$work/samples"
    [ -t 1 ] && printf '\rrun %d/%d: %3d s, music %6d ms, RSS %d MiB, %s threads, %s open files ' \
      "$run" "$runs" "$elapsed" "$music" "$((${rss:-0} / 1024))" "${threads:-?}" "$fds"
    next=$(echo $losses | cut -d' ' -f$((lost + 1)) -s)
    if [ -n "$next" ] && [ "$music" -ge "$next" ]; then
      kill_pulse; sleep 3; start_pulse; lost=$((lost + 1))
    fi
    sleep 5
  done
  wait "$pid"; status=$?
  seconds=$(($(date +%s) - start))
  [ -t 1 ] && printf '\r%70s\r' ''
  cp "$work/samples" "$work/samples.$run"
  # Windows by music position: before the first loss, after the first and
  # after the second return; and the two where a drawn scene goes on.
  summary=$(awk -v early="$early_ms" '
      function rng(name, v) { if (!(name in lo) || v < lo[name]) lo[name] = v; if (!(name in hi) || v > hi[name]) hi[name] = v }
      $2 >= 20000 && $6 == 0 { rng("t0", $4); rng("f0", $5) }
      $2 >= 120000 && $6 == 1 { rng("t1", $4); rng("f1", $5) }
      $2 >= 190000 && $2 < 255000 && $6 == 2 { rng("t2", $4); rng("f2", $5) }
      $2 >= 95000 && $2 < 120000 { rng("r1", $3) }
      $2 >= 150000 && $2 < 205000 { rng("r2", $3) }
      $2 >= 0 { last = $3; if ($3 > peak) peak = $3; n++ }
      $2 >= 0 && $2 < early { first_scenes = $3 }
      END { for (k in hi) if (k ~ /^[tf][0-2]$/ && lo[k] != hi[k]) flat = flat " " k
            printf "%d %d %d %d %d %d %d %d %d %d %d %d [%s]\n", n, first_scenes, last, peak, hi["r1"] - lo["r1"], hi["r2"] - lo["r2"],
              lo["t0"], lo["t1"], lo["t2"], lo["f0"], lo["f1"], lo["f2"], flat }' "$work/samples")
  read -r n rss0 rss1 rsspeak grow1 grow2 t0 t1 t2 f0 f1 f2 unsteady <<<"$summary"
  [ -z "$early_first_run" ] && early_first_run=$rss0
  went=$(grep -c 'the audio output went away' "$work/stderr") back=$(grep -c 'the audio output is back' "$work/stderr")
  verdict=ok
  [ "$status" = 0 ] && [ "$seconds" -ge 258 ] && [ "$n" -gt 40 ] || verdict=FAILED
  [ "$went" = 2 ] && [ "$back" = 2 ] || verdict=FAILED
  [ "$unsteady" = "[]" ] && [ "$t1" = "$t2" ] && [ "$f1" = "$f2" ] || verdict=FAILED
  [ "$grow1" -le "$rss_slack_kib" ] && [ "$grow2" -le "$rss_slack_kib" ] || verdict=FAILED
  [ "$rss0" -le $((early_first_run + rss_slack_kib)) ] || verdict=FAILED
  changed=""
  [ "$unsteady" = "[]" ] || changed="; changed within the window: ${unsteady}"
  line="run $run: status $status after $seconds s; sound lost $went and back $back times; RSS at 54 s $((rss0 / 1024)) MiB (first run $((early_first_run / 1024))), last $((rss1 / 1024)) MiB, peak $((rsspeak / 1024)) MiB, rise 95-120 s $grow1 KiB, 150-205 s $grow2 KiB; threads $t0 / $t1 / $t2, open files $f0 / $f1 / $f2 (before a loss / after the first return / the second)$changed; $n samples"
  [ "$verdict" = ok ] && pass "$line" || { fail "$line"; cat "$work/stderr"; }
  # Memory over the run, one figure every 20 s: music s:MiB.
  awk '$2 >= 0 && $1 >= due { printf " %d:%d", $2 / 1000, $3 / 1024; due = $1 + 20 } END { print "" }' \
    "$work/samples" | sed "s/^/  RSS over run $run (music s:MiB):/"
done
if report; then echo "soak: steady over $runs whole runs"; else echo "soak: FAILED"; exit 1; fi

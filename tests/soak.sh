#!/usr/bin/env bash
# Three whole live runs of the demo back to back on a virtual X server, each
# watched through /proc: resident memory must stay flat once start-up is
# over, threads and open files must not grow, and each run must end by
# itself with status 0 when the schedule ends at 260 s. About 13 minutes;
# not part of CI. Run it with nice: the demo draws unpaced under Xvfb.
#
# usage: tests/soak.sh [TESSERA [ASSETS_DIR [RUNS]]]   (default: build/tessera build/assets 3)
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
tessera=$(realpath "${1:-$root/build/tessera}") assets=$(realpath "${2:-$root/build/assets}") runs=${3:-3}
settle_s=20          # start-up is over by then: pictures loaded, music decoded
rss_slack_kib=8192   # allowed RSS rise after start-up (allocator noise)
work=$(mktemp -d)
source "$root/tests/x_session.sh"
start_x_server Xvfb -screen 0 640x480x24 -nolisten tcp -noreset
trap 'kill "$x_server" 2>/dev/null; rm -rf "$work"' EXIT

field() { awk -v k="$1:" '$1 == k { print $2 }' "/proc/$pid/status" 2>/dev/null; }

for run in $(seq "$runs"); do
  start=$(date +%s)
  # SDL's dummy output pulls the music in real time, so the audio thread and
  # the device clock run as they would on a sound card.
  (cd "$assets" && SDL_AUDIODRIVER=dummy exec "$tessera") 2>"$work/stderr" &
  pid=$!
  : >"$work/samples"   # seconds rss_kib threads fds
  while kill -0 "$pid" 2>/dev/null; do
    rss=$(field VmRSS) threads=$(field Threads) fds=$(ls "/proc/$pid/fd" 2>/dev/null | wc -l)
    elapsed=$(($(date +%s) - start))
    [ -n "$rss" ] && echo "$elapsed $rss $threads $fds" >>"$work/samples"
    [ -t 1 ] && printf '\rrun %d/%d: %3d s, RSS %d MiB, %s threads, %s open files ' \
      "$run" "$runs" "$elapsed" "$((${rss:-0} / 1024))" "${threads:-?}" "$fds"
    sleep 5
  done
  wait "$pid"; status=$?
  seconds=$(($(date +%s) - start))
  [ -t 1 ] && printf '\r%60s\r' ''
  # After start-up: first RSS, peak, last; thread and fd ranges.
  summary=$(awk -v s="$settle_s" '$1 >= s { if (!n++) { r0 = $2; tmin = tmax = $3; fmin = fmax = $4 }
      if ($2 > rmax) rmax = $2; r1 = $2
      if ($3 < tmin) tmin = $3; if ($3 > tmax) tmax = $3; if ($4 < fmin) fmin = $4; if ($4 > fmax) fmax = $4 }
      END { print n + 0, r0 + 0, rmax + 0, r1 + 0, tmin + 0, tmax + 0, fmin + 0, fmax + 0 }' "$work/samples")
  read -r n rss0 rssmax rss1 tmin tmax fmin fmax <<<"$summary"
  verdict=ok
  [ "$status" = 0 ] || verdict=FAILED
  [ "$seconds" -ge 258 ] && [ "$seconds" -le 275 ] || verdict=FAILED
  [ "$n" -gt 10 ] && [ $((rssmax - rss0)) -le "$rss_slack_kib" ] || verdict=FAILED
  [ "$tmin" = "$tmax" ] && [ "$fmin" = "$fmax" ] || verdict=FAILED
  line="run $run: status $status after $seconds s; RSS after start-up $((rss0 / 1024)) MiB, peak $((rssmax / 1024)) MiB, last $((rss1 / 1024)) MiB (peak - first: $((rssmax - rss0)) KiB); threads $tmin..$tmax; open files $fmin..$fmax; $n samples"
  [ "$verdict" = ok ] && pass "$line" || { fail "$line"; cat "$work/stderr"; }
done
if report; then echo "soak: flat over $runs whole runs"; else echo "soak: FAILED"; exit 1; fi

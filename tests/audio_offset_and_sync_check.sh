#!/usr/bin/env bash
# The player's --audio-offset and --sync-check, on a virtual X server with
# SDL's dummy sound output: bad offsets are refused with one line and the
# usage (status 2) before anything opens; the sync check ends by itself
# after its 10 s with status 0, its clock (the window title) having run to
# the end, and Escape ends it early.
#
# usage: audio_offset_and_sync_check.sh TESSERA TESTDATA_DIR
set -u
tessera=$1 testdata=$2
demo_dir=$testdata/demo
work=$(mktemp -d)
source "$(dirname "$0")/checks.sh"
source "$(dirname "$0")/x_session.sh"

# Refused: not a number, out of range, nothing, and given twice.
for args in "--audio-offset abc" "--audio-offset 12ms" "--audio-offset 1001" "--audio-offset -1001" \
            "--audio-offset" "--audio-offset ''" "--audio-offset 10 --audio-offset 20"; do
  eval "set -- $args"
  (cd "$demo_dir" && DISPLAY= "$tessera" "$@") >"$work/stdout" 2>"$work/stderr"
  status=$?
  [ "$status" = 2 ] && [ "$(grep -c '^tessera: --audio-offset ' "$work/stderr")" = 1 ] &&
    grep -q '^usage: tessera' "$work/stderr" && [ ! -s "$work/stdout" ] && pass "$args refused" \
    || fail "$args: status $status, $(cat "$work/stderr")"
done

start_x_server Xvfb -screen 0 320x240x24 -nolisten tcp -noreset
trap 'kill "$x_server" 2>/dev/null; rm -rf "$work"' EXIT
export SDL_AUDIODRIVER=dummy

# Accepted at both ends of its range; the sync check runs its 10 s.
start_demo "$tessera" "$demo_dir" --window --sync-check --audio-offset -1000
last=""
[ -n "$window" ] && last=$(timeout 14 xprop -spy -id "$window" WM_NAME 2>/dev/null | sed -n 's/.*= "\([0-9]*\)"$/\1/p' | tail -n 1)
wait_exit 15
[ "$status" = 0 ] && [ "${last:-0}" -ge 9900 ] && [ ! -s "$work/stderr" ] &&
  pass "--sync-check ends by itself after 10 s of its clock (last title $last)" ||
  fail "--sync-check: status $status, last title ${last:-none}, stderr: $(cat "$work/stderr")"

start_demo "$tessera" "$demo_dir" --window --audio-offset 1000 --sync-check
[ -n "$window" ] && sleep 2 && xdotool key Escape
wait_exit 5
[ "$status" = 0 ] && [ "$waited_ms" -lt 2000 ] && pass "Escape ends the sync check ($waited_ms ms)" ||
  fail "Escape during the sync check: status $status after $waited_ms ms"
report

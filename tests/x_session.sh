# x_session.sh -- shared by the scripts that run the real demo on an X server.
# Source it with $work set to a scratch folder.

source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"

# Starts an X server given as a command (it must take -displayfd 3), waits
# for it and exports DISPLAY; sets $x_server. Ends the script if it fails.
start_x_server() {
  "$@" -displayfd 3 3>"$work/display" >"$work/x.log" 2>&1 &
  x_server=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  if [ ! -s "$work/display" ]; then
    echo "FAILED: $1 did not start"; tail -20 "$work/x.log"; kill "$x_server" 2>/dev/null; exit 1
  fi
  export DISPLAY=":$(cat "$work/display")"
}

# Starts the demo in the background in folder $2 (binary $1, its options
# after), through the command in the array $launcher if one is set; sets
# $pid and, once its window shows a numeric title, $window. Waits up to 30 s:
# a loaded machine may be slow to start it.
start_demo() {
  local binary=$1 folder=$2
  shift 2
  (cd "$folder" && exec ${launcher[@]+"${launcher[@]}"} "$binary" "$@") 2>"$work/stderr" &
  pid=$!
  window=""
  for _ in $(seq 300); do
    window=$(xdotool search --name '^[0-9]+$' 2>/dev/null | head -n 1)
    [ -n "$window" ] && break
    sleep 0.1
  done
}

# Waits up to $1 seconds for the demo to end; sets $status and $waited_ms.
wait_exit() {
  local start=$(date +%s%N)
  status=""
  for _ in $(seq $(($1 * 20))); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"; status=$?
      break
    fi
    sleep 0.05
  done
  waited_ms=$((($(date +%s%N) - start) / 1000000))
  if [ -z "$status" ]; then kill -9 "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; status=timeout; fi
}

#!/usr/bin/env bash
# The composer gives the same bytes on every run: a fresh render must equal
# the soundtrack the build wrote.
# Usage: soundtrack_repeats.sh <tessera-compose> <mix.mp3> <scratch dir>
set -euo pipefail
compose=$1 mix=$2 dir=$3
mkdir -p "$dir"
out="$dir/mix-again.mp3"
trap 'rm -f "$out"' EXIT
"$compose" "$out" >/dev/null
cmp "$out" "$mix"
echo "soundtrack_repeats: $(stat -c %s "$mix") bytes, identical"

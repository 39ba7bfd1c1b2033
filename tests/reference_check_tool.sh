#!/usr/bin/env bash
# tessera-refcheck on stills made to measure: where it draws the line, what it
# says and writes when stills differ, and what approving changes.
#
# usage: reference_check_tool.sh TESSERA_REFCHECK
set -u
refcheck=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/checks.sh"
cd "$work"
mkdir ref stills
printf '# two moments\n1000\n2000   # the second\n' >moments.txt
still() { convert -size 320x240 xc:'rgb(100,100,100)' "$@" "PNG24:$out"; }
out=ref/at-001000.png still
out=ref/at-002000.png still -fill 'rgb(0,0,200)' -draw 'rectangle 10,10,99,99'
cp ref/*.png stills/

# The tolerance: 0.5% of the 76800 pixels (384) may be off by more than 24
# levels; the mean over all channels may be off by at most 2 levels.
# name | how the still at 1000 ms is drawn | status
while IFS='|' read -r name draw expected; do
  read -ra args <<<"$draw"
  out=stills/at-001000.png still "${args[@]//_/ }"
  "$refcheck" compare moments.txt ref stills report >log 2>&1
  status=$?
  [ "$status" = "$expected" ] && pass "$name: status $status" || { fail "$name: status $status"; cat log; }
done <<'TABLE'
identical||0
307 pixels off by 30 levels|-fill rgb(130,100,100) -draw rectangle_0,0,306,0|0
461 pixels off by 30 levels|-fill rgb(130,100,100) -draw rectangle_0,0,319,0 -draw rectangle_0,1,140,1|1
every pixel 24 levels off in one channel (mean 8)|-fill rgb(124,100,100) -draw rectangle_0,0,319,239|1
every pixel 2 levels off in every channel|-fill rgb(102,102,102) -draw rectangle_0,0,319,239|0
every pixel 3 levels off in every channel|-fill rgb(103,103,103) -draw rectangle_0,0,319,239|1
TABLE

# A failing moment is named with its figures and gets its picture.
grep -q '0:01.0 (1000 ms): 0.00% of pixels off by more than 24 levels (limit 0.5%), mean 3.00 levels' log \
  && grep -q '1 of 2 moments differ' log && pass "the failing moment named with its figures" || { fail "report"; cat log; }
[ "$(identify -format '%wx%h' report/at-001000.png 2>/dev/null)" = 992x280 ] && [ ! -e report/at-002000.png ] \
  && pass "expected | drawn | difference written for the failing moment only" || fail "report pictures: $(ls report)"

# Stills that cannot be compared fail with a reason.
rm -rf report
cp ref/at-001000.png stills/
while IFS='|' read -r name setup message; do
  rm -rf case && cp -r ref case-ref && cp -r stills case && eval "$setup"
  "$refcheck" compare moments.txt case-ref case report >log 2>&1
  [ $? = 1 ] && grep -q "$message" log && pass "$name" || { fail "$name"; cat log; }
  rm -rf case case-ref
done <<'TABLE'
no still|rm case/at-002000.png|2000 ms): no still was written
no reference|rm case-ref/at-002000.png|2000 ms): no reference
another size|convert -size 160x120 xc:black PNG24:case/at-002000.png|the still is 160x120, the reference 320x240
not a picture|echo x >case/at-002000.png|the still cannot be read
TABLE

# Bad moment lists are refused before anything is compared.
for list in '1000\n1000' '12x' '260000' '-5' '1000 2000' '# nothing'; do
  printf -- "$list\n" >bad.txt
  "$refcheck" compare bad.txt ref stills report >/dev/null 2>&1
  [ $? = 2 ] && pass "moments '$list' refused" || fail "moments '$list' accepted"
done

# Approving rewrites what changed, leaves the rest byte for byte, removes
# references of moments no longer listed and sheets the changes.
out=stills/at-002000.png still -fill 'rgb(200,0,0)' -draw 'rectangle 10,10,99,99'
out=ref/at-003000.png still
touch -d '2001-01-01' ref/at-001000.png
"$refcheck" approve moments.txt ref stills changes.png >log 2>&1
status=$?
[ "$status" = 0 ] && cmp -s <(convert ref/at-002000.png rgb:-) <(convert stills/at-002000.png rgb:-) \
  && [ "$(stat -c %Y ref/at-001000.png)" = "$(date -d 2001-01-01 +%s)" ] && [ ! -e ref/at-003000.png ] \
  && pass "approve rewrites the changed, keeps the unchanged, removes the unlisted" || { fail "approve"; cat log; }
[ "$(identify -format '%wx%h' changes.png 2>/dev/null)" = 992x280 ] && grep -q 'look at every row' log \
  && pass "approve sheets the one change" || { fail "approve sheet"; cat log; }
"$refcheck" compare moments.txt ref stills report >/dev/null 2>&1 && pass "approved references match" || fail "approved references differ"

report

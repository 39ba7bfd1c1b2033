# checks.sh -- the pass/fail tally every test script keeps. Source it.

passed=0 failed=0
pass() { echo "ok: $1"; passed=$((passed + 1)); }
fail() { echo "FAILED: $1"; failed=$((failed + 1)); }
report() { echo "$passed passed, $failed failed"; [ "$failed" = 0 ]; }

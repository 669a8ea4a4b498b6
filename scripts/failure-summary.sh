#!/usr/bin/env bash
# After a failed `make test`: the failed checks and where they are, gathered from CTest's
# log, so that they stand at the end of a long output (CI shows its head and tail).
log="${1:-Testing/Temporary/LastTest.log}"
[ -f "$log" ] || exit 0
echo
echo "==== failed checks (from $log) ===="
grep -a -A3 -E '^(FAIL!|XPASS) ' "$log" | grep -a -E '^(FAIL!|XPASS|   Loc:|   Actual|   Expected|--)' | head -60
grep -a -E 'QWARN.*(still waiting|timed out|did not start)' "$log" | sort | uniq -c | head -20

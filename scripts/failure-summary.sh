#!/usr/bin/env bash
# After a failed `make test`: the failed checks, where they are and the warnings and steps
# just before them, gathered from CTest's log so that they stand at the end of a long output
# (CI shows its head and tail).
log="${1:-Testing/Temporary/LastTest.log}"
[ -f "$log" ] || exit 0
echo
echo "==== failed checks (from $log) ===="
awk '
    function flush(  i) { for (i = 0; i < n; ++i) print "  " ctx[i]; n = 0 }
    /^(QWARN|QCRITICAL|QFATAL)/ || /step: / {
        if (n == 6) { for (i = 1; i < 6; ++i) ctx[i - 1] = ctx[i]; n = 5 }
        ctx[n++] = substr($0, 1, 300); next
    }
    /^(FAIL!|XPASS) / { flush(); print; after = 4; ++fails; next }
    after > 0 && /^ +(Loc|Actual|Expected)/ { print; --after; if ($0 ~ /Loc:/) { after = 0; print "" } next }
    { after = 0 }
    /^(PASS|SKIP) / { n = 0 }
    fails >= 20 { exit }
' "$log"

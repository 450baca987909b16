#!/bin/sh
# check_leak_report.sh [--named] PROGRAM: runs PROGRAM and passes when
# LeakSanitizer reports its leaks and, with --named, when every direct leak's
# stack names the function leakOnPurpose.
named=0
[ "$1" = --named ] && { named=1; shift; }
report="$("$@" 2>&1 >/dev/null)"
printf '%s\n' "$report" | awk -v wanted="$named" '
    /^Direct leak of/ { inLeak = 1; leaks++; named = 0; next }
    inLeak && /leakOnPurpose/ { named = 1 }
    inLeak && /^$/ { inLeak = 0; if (!named) { unnamed++ } }
    END {
        if (inLeak && !named) unnamed++
        if (leaks == 0) { print "no leak was reported"; exit 1 }
        if (wanted && unnamed > 0) { print unnamed " of " leaks " direct leaks do not name leakOnPurpose"; exit 1 }
        print leaks " direct leaks reported"
    }' || { printf '%s\n' "$report"; exit 1; }

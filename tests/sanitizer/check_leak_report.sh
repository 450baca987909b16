#!/bin/sh
# Runs the program given and passes when LeakSanitizer reports its leaks and
# every direct leak's stack names the function leakOnPurpose.
report="$("$@" 2>&1 >/dev/null)"
printf '%s\n' "$report" | awk '
    /^Direct leak of/ { inLeak = 1; leaks++; named = 0; next }
    inLeak && /leakOnPurpose/ { named = 1 }
    inLeak && /^$/ { inLeak = 0; if (!named) { unnamed++ } }
    END {
        if (inLeak && !named) unnamed++
        if (leaks == 0) { print "no leak was reported"; exit 1 }
        if (unnamed > 0) { print unnamed " of " leaks " direct leaks do not name leakOnPurpose"; exit 1 }
        print leaks " direct leaks, each naming leakOnPurpose"
    }' || { printf '%s\n' "$report"; exit 1; }

#!/usr/bin/env bash
# Measures, on a private Xvfb, how long the emulator takes from exec until
# agents can connect on port 2000 and its window is mapped, and its resident
# memory when idle (VmRSS 2 s after that), against the floor program that
# only shows a plain 640 x 480 window. Runs alternate between the two so that
# both see the same machine load; the table shows medians. With --json, the
# medians, ratios and verdicts also go to FILE as one JSON object, for
# scripts/bench.
#
#   startup_bench.sh [--json FILE] ZELVO_EMULATOR STARTUP_FLOOR [RUNS]
#
# Exits 1 when the emulator misses a target (1.5x the floor), 2 on errors.
set -euo pipefail

usage="usage: startup_bench.sh [--json FILE] ZELVO_EMULATOR STARTUP_FLOOR [RUNS]"
json=""
if [ "${1:-}" = --json ]; then
    json=${2:?$usage}
    shift 2
fi
emulator=${1:?$usage}
floor=${2:?$usage}
runs=${3:-7}
target=1.5
port=2000
deadline_ms=60000

work=$(mktemp -d)
xvfb_pid=""
program_pid=""
cleanup() {
    [ -n "$program_pid" ] && kill -9 "$program_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

port_open() { (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null; }

window_shown() { xdotool search --all --onlyvisible --pid "$1" --name '^Zelvo Emulator$' >/dev/null 2>&1; }

# Xvfb picks a free display and reports its number on the given descriptor.
exec 4> "$work/display"
Xvfb -displayfd 4 -screen 0 1280x1024x24 -nolisten tcp -noreset 2>/dev/null &
xvfb_pid=$!
exec 4>&-
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 2; }
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb

# Waits until no program listens on the agent port (another test or emulator
# may still hold it); fails after the start-up deadline.
wait_port_free() {
    local start
    start=$(now_ms)
    while port_open; do
        if (( $(now_ms) - start > deadline_ms )); then
            echo "port $port is in use: stop the running emulator first" >&2
            return 2
        fi
        sleep 0.05
    done
}

# measure PROGRAM LISTENS -> prints "startup_ms rss_kb"
measure() {
    local program=$1 listens=$2 home
    home=$(mktemp -d "$work/home.XXXX")
    [ "$listens" = no ] || wait_port_free
    local start
    start=$(now_ms)
    HOME=$home XDG_CONFIG_HOME=$home/.config "$program" >/dev/null 2>&1 &
    program_pid=$!
    while :; do
        if ! kill -0 "$program_pid" 2>/dev/null; then
            echo "$program exited during start-up" >&2
            return 2
        fi
        if { [ "$listens" = no ] || port_open; } && window_shown "$program_pid"; then
            break
        fi
        if (( $(now_ms) - start > deadline_ms )); then
            echo "$program did not start within ${deadline_ms} ms" >&2
            return 2
        fi
        sleep 0.005
    done
    local startup=$(( $(now_ms) - start ))
    sleep 2
    local rss
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$program_pid/status")
    kill -9 "$program_pid"
    wait "$program_pid" 2>/dev/null || true
    program_pid=""
    echo "$startup $rss"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: > "$work/floor"
: > "$work/emulator"
# One unmeasured start of each warms the file cache.
measure "$floor" no >/dev/null
measure "$emulator" yes >/dev/null
printf '%-4s %17s %17s\n' "run" "floor ms / kB" "emulator ms / kB"
for run in $(seq "$runs"); do
    measure "$floor" no >> "$work/floor"
    measure "$emulator" yes >> "$work/emulator"
    printf '%-4s %17s %17s\n' "$run" "$(tail -n1 "$work/floor" | tr ' ' /)" "$(tail -n1 "$work/emulator" | tr ' ' /)"
done
echo

floor_ms=$(cut -d' ' -f1 "$work/floor" | median)
floor_kb=$(cut -d' ' -f2 "$work/floor" | median)
emulator_ms=$(cut -d' ' -f1 "$work/emulator" | median)
emulator_kb=$(cut -d' ' -f2 "$work/emulator" | median)

status=0
figures=()
row() {
    local name=$1 unit=$2 floor_value=$3 value=$4 verdict
    local ratio
    ratio=$(awk -v a="$value" -v b="$floor_value" 'BEGIN { printf "%.2f", a / b }')
    if awk -v r="$ratio" -v t="$target" 'BEGIN { exit !(r <= t) }'; then
        verdict=ok
    else
        verdict=MISSED
        status=1
    fi
    printf '%-22s %10s %12s %8sx %8sx  %s\n' "$name ($unit)" "$floor_value" "$value" "$ratio" "$target" "$verdict"
    figures+=("$(printf '{"name": "%s", "unit": "%s", "floor": %s, "value": %s, "ratio": %s, "verdict": "%s"}' \
        "$name" "$unit" "$floor_value" "$value" "$ratio" "$verdict")")
}

echo "ZelvoEmulator start-up, median of $runs runs (alternating with the floor)"
printf '%-22s %10s %12s %9s %9s  %s\n' "measure" "floor" "emulator" "ratio" "target" ""
row "start-up" "ms" "$floor_ms" "$emulator_ms"
row "idle memory" "kB RSS" "$floor_kb" "$emulator_kb"
if [ -n "$json" ]; then
    joined=$(IFS=,; echo "${figures[*]}")
    printf '{"runs": %s, "target": %s, "figures": [%s]}\n' "$runs" "$target" "$joined" > "$json"
fi
exit $status

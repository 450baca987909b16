#!/usr/bin/env bash
# Runs bench_animation against the emulator offscreen and on a private Xvfb,
# and writes the figures of both as one JSON object {"runs": [...]} to FILE
# for scripts/bench. The agent port is fixed, so run it where no other
# emulator runs (scripts/bench does; as root, `unshare -n` gives a private
# loopback).
#
#   animation_bench.sh --json FILE ZELVO_EMULATOR BENCH_ANIMATION
set -euo pipefail

usage="usage: animation_bench.sh --json FILE ZELVO_EMULATOR BENCH_ANIMATION"
[ "${1:-}" = --json ] || { echo "$usage" >&2; exit 2; }
json=${2:?$usage}
emulator=${3:?$usage}
bench=${4:?$usage}

xvfb_pid=""
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

display=""
for n in $(seq 140 199); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        display=":$n"
        break
    fi
done
[ -n "$display" ] || { echo "no free X display" >&2; exit 2; }
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X${display#:}" ] && break
    sleep 0.1
done

lines=$(QT_QPA_PLATFORM=offscreen "$bench" "$emulator"
        DISPLAY=$display QT_QPA_PLATFORM=xcb "$bench" "$emulator")
echo "$lines"
echo "{\"runs\": [$(echo "$lines" | paste -sd,)]}" > "$json"

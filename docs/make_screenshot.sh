#!/usr/bin/env bash
# Redraws docs/screenshot.png: the emulator on a private X server, showing
# what an agent sent it (a navigation hint in layout 3).
#   docs/make_screenshot.sh BUILD_DIR
# BUILD_DIR holds the built ZelvoEmulator and zelvo-agent targets.
set -euo pipefail
build=$(cd "${1:?usage: make_screenshot.sh BUILD_DIR}" && pwd)
docs=$(cd "$(dirname "$0")" && pwd)
emulator=$build/Emulator/ZelvoEmulator
agent=$build/tools/zelvo-agent/zelvo-agent

work=$(mktemp -d)
xvfb_pid=""
emulator_pid=""
cleanup() {
    [ -n "$emulator_pid" ] && kill "$emulator_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

wait_for() {
    for _ in $(seq 300); do
        "$@" && return 0
        sleep 0.1
    done
    echo "timed out waiting for: $*" >&2
    return 1
}

exec 4> "$work/display"
Xvfb -displayfd 4 -screen 0 1280x1024x24 -nolisten tcp -noreset 2>/dev/null &
xvfb_pid=$!
exec 4>&-
wait_for test -s "$work/display"
export DISPLAY=":$(head -n1 "$work/display")" QT_QPA_PLATFORM=xcb

mkdir -m 700 "$work/home" "$work/home/runtime"
HOME=$work/home XDG_RUNTIME_DIR=$work/home/runtime "$emulator" >/dev/null 2>&1 &
emulator_pid=$!
window_of() { xdotool search --all --onlyvisible --pid "$emulator_pid" --name '^Zelvo Emulator$'; }
wait_for window_of >/dev/null

# A turn arrow for the image area, in the display's green.
convert -size 158x174 xc:none -stroke '#00ff00' -strokewidth 16 -fill none \
    -draw "path 'M 60,164 L 60,96 Q 60,64 92,64 L 104,64'" \
    -stroke none -fill '#00ff00' -draw "polygon 100,36 140,64 100,92" "$work/turn.png"

"$agent" timing --min 600000 --max 600000
"$agent" config --app screenshot "$work/turn.png"
"$agent" content --app screenshot --layout 3 --image 0 \
    --text "Navigation" --text "Turn right in 200 m"

window=$(window_of)
# Let the window repaint before the picture is taken.
sleep 1
import -window "$window" "$docs/screenshot.png"
echo "wrote $docs/screenshot.png"

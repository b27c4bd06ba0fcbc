#!/usr/bin/env bash
# The window under a real X server (Xvfb) that goes away under a playback, kills our connection
# (xdotool windowkill) or destroys our window with no close event. Each takes a way out that
# keys off the voices and finishes the outputs.
set -uo pipefail
vesk=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
xvfb_pid=
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2> /dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
export SDL_AUDIODRIVER=dummy XDG_RUNTIME_DIR="$work"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

start_x() {
    exec 3> "$work/display"
    Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 > /dev/null 2>&1 &
    xvfb_pid=$!
    exec 3>&-
    for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
    export DISPLAY=":$(cat "$work/display")"
}

# Starts vesk under the server, presses "Start", and lets a step begin.
start_playing() {
    local name=$1
    timeout 60 "$vesk" --chip none --port-trace "$work/$name.trace" --capture "$work/$name.vgm" \
        2> "$work/$name.err" &
    vesk_pid=$!
    window=
    for _ in $(seq 100); do
        window=$(xdotool search --name '^B$' 2> /dev/null | head -1)
        [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "$window" ] || { fail "$name: the window did not appear"; return 1; }
    sleep 0.5
    xdotool mousemove --window "$window" 90 80 click 1
    sleep 1.5
}

# check NAME STATUS EXPECTED: the exit status, then the outputs in place and keyed off.
check() {
    local name=$1 status=$2 expected=$3
    [ "$status" = "$expected" ] || fail "$name exits $status, not $expected: $(cat "$work/$name.err")"
    grep -q '^out 0389 00[23]' "$work/$name.trace" || fail "$name: nothing was keyed on"
    [ "$(grep '^out' "$work/$name.trace" | tail -4 | tr '\n' ' ')" = \
        "out 0388 00b0 out 0389 0000 out 0388 00b1 out 0389 0000 " ] ||
        fail "$name: the trace does not end with the key-offs"
    [ -s "$work/$name.vgm" ] || fail "$name: no capture"
    ! ls "$work" | grep -q '\.tmp$' || fail "$name: temporary files left"
}

# The server dies.
start_x
if start_playing server_dies; then
    kill "$xvfb_pid"
    wait "$vesk_pid"
    check server_dies $? 1
fi
wait "$xvfb_pid" 2> /dev/null
xvfb_pid=

# Our connection is killed.
start_x
if start_playing windowkill; then
    xdotool windowkill "$window"
    wait "$vesk_pid"
    check windowkill $? 1
fi

# Our window is destroyed by another client; no close event comes.
if start_playing destroyed; then
    python3 "$here/destroy_window.py" "$window"
    wait "$vesk_pid"
    check destroyed $? 0
fi

[ "$failures" = 0 ] && echo "X server: all checks passed"
exit $((failures > 0))

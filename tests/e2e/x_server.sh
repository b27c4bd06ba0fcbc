#!/usr/bin/env bash
# The window under a real X server (Xvfb) that goes away under a playback, kills our connection
# (xdotool windowkill), destroys our window with no close event, or stops answering while a
# quit signal comes. Each takes a way out that keys off the voices and finishes the outputs.
# And where no window can open (a display set but out of reach, a damaged window module): one
# line, then the text front end.
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
    Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 640x480x24 > /dev/null 2>&1 &
    xvfb_pid=$!
    exec 3>&-
    for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
    export DISPLAY=":$(cat "$work/display")"
}

# first_window NAME: waits up to 10 s for the first window of that name; prints its id.
first_window() {
    local id=
    for _ in $(seq 100); do
        id=$(xdotool search --name "$1" 2> /dev/null | head -1)
        [ -n "$id" ] && break
        sleep 0.1
    done
    echo "$id"
}

# Starts vesk under the server, presses "Start", and lets a step begin.
start_playing() {
    local name=$1
    timeout 60 "$vesk" --chip none --port-trace "$work/$name.trace" --capture "$work/$name.vgm" \
        2> "$work/$name.err" &
    vesk_pid=$!
    window=$(first_window '^B$')
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

# No sound device: once the window is up, one box says so, beside the window, which still plays.
# window_up NAME DRIVER: starts vesk's window on the emulated chip, with SDL_AUDIODRIVER=DRIVER,
# and waits for the window.
window_up() {
    local name=$1
    SDL_AUDIODRIVER=$2 timeout 60 "$vesk" --chip emulated --emulator mame \
        --port-trace "$work/$name.trace" 2> "$work/$name.err" &
    vesk_pid=$!
    window=$(first_window '^B$')
    [ -n "$window" ] || fail "$name: the window did not appear"
}
boxes() { xdotool search --name '^vesk: no sound$' 2> /dev/null | wc -l; }
window_up no_sound no-such-driver
box=$(first_window '^vesk: no sound$')
if [ -n "$box" ]; then
    sleep 0.5
    [ "$(boxes)" = 1 ] || fail "no sound: $(boxes) boxes"
    grep -q 'no audio device' "$work/no_sound.err" || fail "no sound: not said on stderr too"
    # Dismissed, it leaves the window as it was: "Start" plays, "Sluta" keys off and ends it.
    xdotool windowfocus --sync "$box" key Return 2> /dev/null
    sleep 0.5
    [ "$(boxes)" = 0 ] || fail "no sound: the box stays after Return"
    xdotool mousemove --window "$window" 90 80 click 1
    sleep 1.5
    xdotool mousemove --window "$window" 90 135 click 1
    wait "$vesk_pid"
    status=$?
    [ "$status" = 0 ] || fail "no sound: Sluta exits $status"
    grep -q '^out 0389 00[23]' "$work/no_sound.trace" || fail "no sound: nothing was keyed on"
    [ "$(grep '^out' "$work/no_sound.trace" | tail -4 | tr '\n' ' ')" = \
        "out 0388 00b0 out 0389 0000 out 0388 00b1 out 0389 0000 " ] ||
        fail "no sound: the trace does not end with the key-offs"
else
    fail "no sound: no box came up: $(cat "$work/no_sound.err")"
    kill "$vesk_pid" 2> /dev/null
    wait "$vesk_pid"
fi
# With a device (SDL's dummy one), no box.
window_up with_sound dummy
sleep 1.5
[ "$(boxes)" = 0 ] || fail "with sound: a no-sound box came up"
xdotool mousemove --window "$window" 90 135 click 1
wait "$vesk_pid"

# The server stops answering (SIGSTOP) under a playback; a quit signal still ends the program
# at once, with its outputs finished.
for sig in TERM INT HUP; do
    if start_playing "frozen_$sig"; then
        kill -STOP "$xvfb_pid"
        sent=$(date +%s%N)
        kill -"$sig" "$vesk_pid"
        # A program that waits on the server is killed after 5 s, and fails below.
        for _ in $(seq 50); do kill -0 "$vesk_pid" 2> /dev/null || break; sleep 0.1; done
        took_ms=$((($(date +%s%N) - sent) / 1000000))
        # vesk_pid is timeout's; the program is its child.
        for pid in $(ps -o pid= --ppid "$vesk_pid") "$vesk_pid"; do kill -KILL "$pid" 2> /dev/null; done
        wait "$vesk_pid"
        status=$?
        kill -CONT "$xvfb_pid"
        check "frozen_$sig" "$status" $((128 + $(kill -l "$sig")))
        # A second or two spare for a loaded machine; a wait on the server would be for ever.
        [ "$took_ms" -lt 3000 ] || fail "$sig under a frozen server took $took_ms ms"
    fi
done
kill "$xvfb_pid"
wait "$xvfb_pid" 2> /dev/null
xvfb_pid=

# No window can open: one line naming the display or the module, then the text front end, with
# the trace finished and nothing left behind. Each case: the environment, then what the line
# names.
mkdir "$work/module" && cp "$vesk" "$work/module/vesk"
while read -r setting named; do
    program=$vesk
    case $setting in
        truncate=*)
            # A window module cut short, beside a copy of the program that loads it.
            cp "$(dirname "$vesk")/vesk_window.so" "$work/module/"
            truncate -s "${setting#truncate=}" "$work/module/vesk_window.so"
            program=$work/module/vesk
            setting=DISPLAY=:99
            ;;
    esac
    echo sluta | (cd "$work" && exec env -u DISPLAY "$setting" "$program" --chip none \
        --port-trace "$work/none.trace" > "$work/none.out" 2> "$work/none.err")
    status=$?
    [ "$status" = 0 ] || fail "$setting ($named): exits $status: $(head -3 "$work/none.err")"
    [ "$(grep -c . "$work/none.err")" = 1 ] && grep -qF "$named" "$work/none.err" ||
        fail "$setting ($named): $(head -3 "$work/none.err")"
    grep -q 'type "start"' "$work/none.out" || fail "$setting ($named): no text front end"
    grep -q '^out 0389' "$work/none.trace" || fail "$setting ($named): no trace"
    ! ls "$work" "$work/module" | grep -q '\.tmp$' || fail "$setting ($named): temporary files left"
    rm -f "$work/none.trace"
done << 'EOF'
DISPLAY=:99 ":99"
DISPLAY=garbage::: "garbage:::"
WAYLAND_DISPLAY=wayland-vesk-test "wayland-vesk-test"
QT_QPA_PLATFORM=bogus "bogus"
truncate=4096 vesk_window.so
truncate=20000 vesk_window.so
EOF

[ "$failures" = 0 ] && echo "X server: all checks passed"
exit $((failures > 0))

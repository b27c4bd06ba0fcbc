#!/usr/bin/env bash
# vesk.exe's window under Wine on an X display of its own (run through with_display.sh), driven
# with xdotool as a user would, with the stand-in port library recording every access. Every wait
# has a time limit: a Windows program that loses its window never ends by itself.
# Usage: vesk_window.sh CASE VESK.EXE DLL_DIR CLOSE_WINDOW.EXE WINE-RUN [ARG...]
set -euo pipefail
case=$1 vesk=$2 dlls=$3 close_window=$4
shift 4
wine=("$@")
here=$(cd "$(dirname "$0")" && pwd)
e2e=$here/../e2e
work=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; [ -f "$work/err" ] && cat "$work/err"; exit 1; }

run_dir=$work/run
mkdir "$run_dir"
cp "$vesk" "$run_dir/vesk.exe"
[ "$case" = fault-box ] || cp "$dlls/standin/inpout32.dll" "$run_dir/inpout32.dll"
export VESK_INPOUT_TRACE=record.txt

python3 "$e2e/expected_trace.py" startup > "$work/startup.txt"
python3 "$e2e/song_steps.py" "$here/../../song/stored_song.cpp" > "$work/steps.txt"
python3 "$e2e/expected_trace.py" song "$work/steps.txt" > "$work/song.txt"
access_lines=43                                      # one register write
startup_lines=$(($(wc -l < "$work/startup.txt") - 2 * access_lines))

# Starts the program and finds its window ("B") once it is on the screen.
start_window() {
    (cd "$run_dir" && exec timeout 120 "${wine[@]}" ./vesk.exe "$@") > "$work/out" 2> "$work/err" &
    pid=$!
    window=$(timeout 60 xdotool search --sync --onlyvisible --name '^B$' | head -1) ||
        fail "no window appeared"
}
records() { [ -f "$run_dir/record.txt" ] && wc -l < "$run_dir/record.txt" || echo 0; }
# Waits until the record holds at least $1 accesses.
await_records() {
    for _ in $(seq 600); do [ "$(records)" -ge "$1" ] && return; sleep 0.1; done
    fail "the record stopped at $(records) accesses, short of $1"
}
click() {  # click X Y: a left click at client coordinates
    xdotool mousemove --window "$window" "$1" "$2" click 1
}
click_start() { click 92 80; }   # the middle of "Start": 48,64, 89 x 33
click_sluta() { click 92 136; }  # the middle of "Sluta": 48,120, 89 x 33
close_frame() { timeout 60 "${wine[@]}" "$close_window" "$1" || fail "could not close '$1'"; }
# Waits for the program to end and checks its exit status.
expect_exit() {
    local status=0
    wait "$pid" || status=$?
    pid=
    [ "$status" = "$1" ] || fail "exit $status, not $1"
}
# Start-up, whole steps, the step under way and the two key-offs: the song's trace cut at the
# end of a step (the step's own last writes are the same two key-offs).
check_cut_at_a_step() {
    local lines per_step=$((6 * access_lines))
    lines=$(records)
    [ $(((lines - startup_lines) % per_step)) = 0 ] && [ "$lines" -gt "$startup_lines" ] ||
        fail "$lines accesses is not start-up and whole steps"
    head -n "$lines" "$work/song.txt" | cmp -s - "$run_dir/record.txt" ||
        fail "the record is not the song's trace"
    echo "cut after step $(((lines - startup_lines) / per_step))"
}

case $case in
layout)
    # The client area, measured on the screen: with no window manager the X window is exactly
    # the client area. Closed when idle, nothing more is written.
    start_window
    geometry=$(xdotool getwindowgeometry "$window" | sed -n 's/^ *Geometry: //p')
    [ "$geometry" = 312x213 ] || fail "client area $geometry, not 312x213"
    await_records "$startup_lines"
    close_frame B
    expect_exit 0
    head -n "$startup_lines" "$work/startup.txt" | cmp - "$run_dir/record.txt" ||
        fail "closing when idle wrote to the chip"
    ;;
sluta)
    start_window --port-trace trace.txt
    await_records "$startup_lines"
    click_sluta
    expect_exit 0
    cmp "$work/startup.txt" "$run_dir/record.txt" || fail "not start-up and the two key-offs"
    cmp "$work/startup.txt" "$run_dir/trace.txt" || fail "--port-trace differs from the record"
    ;;
start-sluta)
    start_window
    await_records "$startup_lines"
    click_start
    await_records $((startup_lines + 6 * access_lines + 4 * access_lines))  # step 2 sounding
    click_sluta
    expect_exit 0
    check_cut_at_a_step
    ;;
close-mid-note)
    # Closing through the frame during a note keys both voices off, as "Sluta" does.
    start_window
    await_records "$startup_lines"
    click_start
    await_records $((startup_lines + 6 * access_lines + 4 * access_lines))
    close_frame B
    expect_exit 0
    check_cut_at_a_step
    ;;
fault-box)
    # No port library: the window comes up, its start-up fails at the first access, and a
    # message box names the fault; the program ends with 1 once the box is closed.
    start_window
    box=$(timeout 60 xdotool search --sync --onlyvisible --name '^vesk$' | head -1) ||
        fail "no message box"
    [ -n "$box" ] || fail "no message box"
    kill -0 "$pid" 2>/dev/null || fail "ended before the box was closed"
    close_frame vesk
    expect_exit 1
    grep -q 'run-time error: cannot load inpout32.dll: .*--chip emulated' "$work/err" ||
        fail "the fault is not named, or --chip emulated not offered"
    [ ! -e "$run_dir/record.txt" ] || fail "something reached a port"
    ;;
no-sound)
    # The emulated chip with no sound device: once the window is up, one box says so, and the
    # window goes on as before: "Start" plays, "Sluta" keys off and ends it.
    export SDL_AUDIODRIVER=no-such-driver
    start_window --chip emulated --emulator mame --port-trace trace.txt
    box=$(timeout 60 xdotool search --sync --onlyvisible --name '^vesk: no sound$' | head -1) ||
        fail "no box"
    [ -n "$box" ] || fail "no box"
    grep -q 'no audio device' "$work/err" || fail "not said on stderr too"
    click_start
    sleep 2
    click_sluta
    expect_exit 0
    grep -q '^out 0389 00[23]' "$run_dir/trace.txt" || fail "nothing was keyed on"
    [ "$(grep '^out' "$run_dir/trace.txt" | tail -4 | tr '\n' ' ')" = \
        "out 0388 00b0 out 0389 0000 out 0388 00b1 out 0389 0000 " ] ||
        fail "the trace does not end with the key-offs"
    ;;
*) echo "usage: vesk_window.sh layout|sluta|start-sluta|close-mid-note|fault-box|no-sound VESK.EXE DLL_DIR CLOSE_WINDOW.EXE WINE-RUN..." >&2
   exit 2 ;;
esac
echo "$case: passed"

#!/usr/bin/env bash
# What each way of running loads: Qt only for the window, from its module, in a build tree and
# once installed; SDL only for live sound. A render loads neither.
# Usage: libraries_loaded.sh VESK BUILD_DIR
set -uo pipefail
vesk=$1
build=$2
work=$(mktemp -d)
window_pid=
trap '[ -n "$window_pid" ] && kill -KILL "$window_pid" 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# run NAME STDIN ARGS...: runs vesk with the dynamic loader naming each library it opens.
run() {
    local name=$1 input=$2
    shift 2
    printf '%s' "$input" | LD_DEBUG=files LD_DEBUG_OUTPUT="$work/$name.ld" "$@" \
        > "$work/$name.out" 2> "$work/$name.err"
    echo $? > "$work/$name.status"
}
opened() { cat "$work/$1".ld.* 2>/dev/null | grep -o 'file=[^ ]*' | sort -u; }
loads() { opened "$1" | grep -q "$2"; }

run render '' "$vesk" --render "$work/song.wav" --emulator dosbox
[ "$(cat "$work/render.status")" = 0 ] || fail "render exits $(cat "$work/render.status")"
loads render libQt6 && fail "a render loads Qt"
loads render libSDL2 && fail "a render loads SDL"

run text 'sluta\n' "$vesk" --text --chip none
loads text libQt6 && fail "the text front end loads Qt"

run live 'sluta\n' env SDL_AUDIODRIVER=dummy "$vesk" --text --emulator mame
[ "$(cat "$work/live.status")" = 0 ] || fail "live text exits $(cat "$work/live.status")"
loads live libSDL2 || fail "live sound does not load SDL"
grep -q 'no audio device' "$work/live.err" && fail "live sound: $(cat "$work/live.err")"
loads live libQt6 && fail "live sound in the text front end loads Qt"

# window NAME VESK: opens the window offscreen, waits until its module is in, then ends it as
# SIGTERM does: "Sluta" with status 143 after start-up has reached the chip.
window() {
    local name=$1 program=$2
    LD_DEBUG=files LD_DEBUG_OUTPUT="$work/$name.ld" QT_QPA_PLATFORM=offscreen \
        "$program" --chip none --port-trace "$work/$name.trace" \
        < /dev/null > "$work/$name.out" 2> "$work/$name.err" &
    window_pid=$!
    for _ in $(seq 200); do
        grep -q vesk_window.so "/proc/$window_pid/maps" 2>/dev/null && break
        sleep 0.1
    done
    kill -TERM "$window_pid"
    wait "$window_pid"
    local status=$?
    window_pid=
    [ "$status" = 143 ] || fail "$name: the window ends with $status: $(cat "$work/$name.err")"
    loads "$name" vesk_window.so || fail "$name: the window module was not loaded"
    loads "$name" libQt6Widgets || fail "$name: Qt was not loaded"
    [ "$(grep -c . "$work/$name.trace" 2>/dev/null)" -ge 12556 ] ||
        fail "$name: start-up did not reach the chip"
}
window window "$vesk"

# Installed, the program finds its module in its own folder of the library directory.
cmake --install "$build" --prefix "$work/prefix" > /dev/null || fail "install failed"
window installed "$work/prefix/bin/vesk"
opened installed | grep -q "$work/prefix/.*/vesk/vesk_window.so" ||
    fail "installed: the module was not loaded from the installed tree"

[ "$failures" = 0 ] && echo "libraries: Qt for the window only, SDL for live sound only"
exit $((failures > 0))

#!/usr/bin/env bash
# What a user sees on a real terminal (tmux's): what is typed during a playback stays on the
# screen under the status line, and a render ends with one line saying what it wrote.
# Usage: terminal.sh VESK. Exits 77 (skip) without tmux.
set -uo pipefail
vesk=$1
command -v tmux > /dev/null || { echo "terminal: tmux is not installed (Debian package tmux)"; exit 77; }
work=$(mktemp -d)
# A server of our own, without the user's configuration.
tmux=(tmux -L "vesk-test-$$" -f /dev/null)
trap '"${tmux[@]}" kill-server 2> /dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# open NAME COMMAND: runs COMMAND in an 80 x 24 terminal; its exit status goes to NAME.status.
open() {
    "${tmux[@]}" kill-session -t vesk 2> /dev/null
    "${tmux[@]}" new-session -d -s vesk -x 80 -y 24 "$2; echo \$? > $work/$1.status; sleep 60"
}
screen() { "${tmux[@]}" capture-pane -p -t vesk | sed '/^$/d'; }
type_keys() { "${tmux[@]}" send-keys -t vesk "$@"; }
# seen PATTERN: waits up to 20 s for a line on the screen that matches the extended regex.
seen() {
    for _ in $(seq 200); do
        screen | grep -Eq -- "$1" && return 0
        sleep 0.1
    done
    fail "never on the screen: $1"
    screen
    return 1
}
step_shown() { screen | sed -nE 's|^step +([0-9]+)/74 .*|\1|p' | tail -1; }
# redrawn: waits until the status line has moved on by two steps, so it has been redrawn at
# least once after what was typed last.
redrawn() {
    local from
    from=$(step_shown)
    for _ in $(seq 200); do
        [ "$(step_shown)" -ge $((from + 2)) ] 2> /dev/null && return 0
        sleep 0.1
    done
    fail "the status line stayed at step $from"
    return 1
}
ended() {
    for _ in $(seq 100); do
        [ -s "$work/$1.status" ] && return 0
        sleep 0.1
    done
    fail "$1 did not end"
    return 1
}
status_line='^step +[0-9]+/74  [A-G#0-9-]+ +[A-G#0-9-]+'

# Given a playback on a terminal, when "sta" is typed and the status line moves on twice,
open text "$vesk --text --chip none"
seen 'type "start"'
type_keys start Enter
seen "$status_line"
type_keys sta
redrawn
# then the screen ends with the status line and, below it, the line being typed.
[ "$(screen | tail -1)" = sta ] || fail "what was typed is gone: $(screen | tail -2)"
screen | tail -2 | head -1 | grep -Eq "$status_line" || fail "no status line above the typing"

# The rest of "start" plays a nested playback; the typed lines stay on the screen, in order.
type_keys rt Enter
seen "$status_line +\(nested 2\)"
[ "$(screen | grep -c '^start$')" = 2 ] || fail "the typed commands are not both on the screen"
# A message below the status line is counted too: the status line still finds its row.
type_keys foo Enter
seen '^vesk: unknown command "foo"'
type_keys slu
redrawn
[ "$(screen | tail -1)" = slu ] || fail "after a message, what was typed is gone: $(screen | tail -2)"
[ "$(screen | grep -Ec "$status_line")" = 1 ] || fail "the status line was drawn twice: $(screen)"
type_keys ta Enter
ended text && [ "$(cat "$work/text.status")" = 0 ] || fail "sluta: exit $(cat "$work/text.status")"

# A render on a terminal ends with one line: the file, its length, rate and format.
open render "$vesk --render $work/tune.wav --rate 44100"
ended render && [ "$(cat "$work/render.status")" = 0 ] || fail "render: exit $(cat "$work/render.status")"
summary="^vesk: wrote $work/tune.wav: [0-9]+\.[0-9]{2} s, 44100 Hz, 16-bit mono WAV$"
[ "$(screen | grep -Ec "$summary")" = 1 ] && [ "$(screen | wc -l)" = 1 ] ||
    fail "the render says: $(screen)"
# Piped, it says nothing.
[ -z "$("$vesk" --render "$work/piped.wav" 2>&1)" ] || fail "a piped render is not silent"

[ "$failures" = 0 ] && echo "terminal: typing survives the status line; a render says what it wrote"
exit $((failures > 0))

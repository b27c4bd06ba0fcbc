#!/usr/bin/env bash
# The command line as a user meets it: help, version, usage errors, the front ends, no display.
set -uo pipefail
vesk=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# run NAME STDIN ARGS...: runs vesk, keeping stdout, stderr and the status.
run() {
    local name=$1 input=$2
    shift 2
    printf '%s' "$input" | "$vesk" "$@" > "$work/$name.out" 2> "$work/$name.err"
    echo $? > "$work/$name.status"
}
status() { cat "$work/$1.status"; }

run help '' --help
[ "$(status help)" = 0 ] || fail "--help exits $(status help)"
head -1 "$work/help.out" | grep -q '^Usage: vesk \[OPTION\]' || fail "--help shows no usage line"
for option in --text --chip --baud --emulator --render --rate --capture --port-trace --help --version; do
    grep -q -- "$option" "$work/help.out" || fail "--help does not name $option"
done

run version '' --version
[ "$(status version)" = 0 ] && grep -qx 'vesk [0-9]*\.[0-9]*\.[0-9]*' "$work/version.out" ||
    fail "--version: $(cat "$work/version.out")"

# Usage errors: status 2, one line naming the fault, then the usage.
for args in "--bogus" "--chip=nope" "--chip" "--rate 7" "--text=yes" "--capture x.wav" \
    "--chip serial" "--chip serial:/dev/ttyUSB0:bogus" "--baud 9600"; do
    # shellcheck disable=SC2086
    run usage '' $args
    [ "$(status usage)" = 2 ] || fail "'$args' exits $(status usage), not 2"
    head -1 "$work/usage.err" | grep -q '^vesk: ' || fail "'$args' names no fault"
    grep -q '^Usage: vesk' "$work/usage.err" || fail "'$args' shows no usage"
    [ -s "$work/usage.out" ] && fail "'$args' wrote to stdout"
done

# Two outputs in one file, however it is named, and --render with --text: usage errors that
# touch no file.
touch "$work/c.vgm" && ln -s c.vgm "$work/link.vgm" && ln "$work/c.vgm" "$work/hard.trace"
for args in "--render $work/x.wav --port-trace $work/x.wav" \
            "--render $work/x.wav --port-trace $work/./sub/../x.wav" \
            "--capture $work/c.vgm --port-trace $work/c.vgm" \
            "--capture $work/link.vgm --port-trace $work/c.vgm" \
            "--capture $work/c.vgm --port-trace $work/hard.trace" \
            "--render $work/x.wav --text"; do
    # shellcheck disable=SC2086
    run same '' $args
    [ "$(status same)" = 2 ] || fail "'$args' exits $(status same), not 2"
    grep -q '^Usage: vesk' "$work/same.err" || fail "'$args' shows no usage"
done
[ ! -e "$work/x.wav" ] && [ ! -s "$work/c.vgm" ] || fail "a usage error wrote a file"

# The text front end: its prompt, then "sluta" ends it with status 0.
run text 'sluta\n' --text --chip none
[ "$(status text)" = 0 ] || fail "--text sluta exits $(status text)"
grep -q 'type "start"' "$work/text.out" || fail "--text shows no prompt"

# With no display at all, the text front end starts instead of the window, saying so once.
printf 'sluta\n' | env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$vesk" --chip none \
    > "$work/nodisplay.out" 2> "$work/nodisplay.err"
[ $? = 0 ] || fail "no display: nonzero exit"
[ "$(grep -c 'no display found' "$work/nodisplay.err")" = 1 ] || fail "no display: not said once"
grep -q 'type "start"' "$work/nodisplay.out" || fail "no display: the text front end did not start"

# --chip emulated with no sound device still plays, silently, and ends cleanly.
printf 'sluta\n' | SDL_AUDIODRIVER=dummy "$vesk" --text --chip emulated --emulator mame \
    > "$work/emulated.out" 2> "$work/emulated.err"
[ $? = 0 ] || fail "--chip emulated: nonzero exit: $(cat "$work/emulated.err")"

[ "$failures" = 0 ] && echo "command line: all checks passed"
exit $((failures > 0))

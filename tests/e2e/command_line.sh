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

# Help and version, by long and short name, on stdout with status 0.
for option in --help -h; do
    run help '' "$option"
    [ "$(status help)" = 0 ] || fail "$option exits $(status help)"
    head -1 "$work/help.out" | grep -q '^Usage: vesk \[OPTION\]' || fail "$option shows no usage line"
done
for option in --text --chip --baud --emulator --render --rate --capture --port-trace "-h, --help" \
    "-V, --version"; do
    grep -q -- "$option" "$work/help.out" || fail "--help does not name $option"
done
for option in --version -V; do
    run version '' "$option"
    [ "$(status version)" = 0 ] || fail "$option exits $(status version)"
    head -1 "$work/version.out" | grep -qx 'vesk [0-9]*\.[0-9]*\.[0-9]*' ||
        fail "$option: $(head -1 "$work/version.out")"
    grep -q '^License GPLv2+' "$work/version.out" || fail "$option names no licence"
    grep -q 'AdPlug [0-9]' "$work/version.out" || fail "$option does not name AdPlug's version"
    # Neither is loaded to print a version: SDL is for live sound, Qt for the window.
    grep -q 'SDL\|Qt' "$work/version.out" && fail "$option names a library it did not load"
done

# Usage errors: status 2, nothing on stdout, and on stderr exactly the line naming the fault and
# where to read more.
while IFS='|' read -r args message; do
    # shellcheck disable=SC2086
    run usage '' $args
    [ "$(status usage)" = 2 ] || fail "'$args' exits $(status usage), not 2"
    expected=$(printf 'vesk: %s\n%s' "$message" "Try 'vesk --help' for more information.")
    [ "$(cat "$work/usage.err")" = "$expected" ] || fail "'$args' says: $(cat "$work/usage.err")"
    [ -s "$work/usage.out" ] && fail "'$args' wrote to stdout"
done <<'CASES'
--bogus|unknown option '--bogus'
--bogus=1|unknown option '--bogus'
-x|unknown option '-x'
stray_arg|unexpected argument 'stray_arg'
--text stray_arg|unexpected argument 'stray_arg'
-- --text|unexpected argument '--text'
-|unexpected argument '-'
--r 44100|option '--r' is ambiguous: --render --rate
--render a.wav --render b.wav|--render given twice
--text --text|--text given twice
--rate 44100 --rate=48000|--rate given twice
--chip=nope|unknown chip 'nope'
--chip|--chip needs a value
--render=|--render needs a file name
--rate 7|--rate takes a whole number of hertz from 8000 to 192000, not '7'
--text=yes|--text takes no value
-xh|unknown option '-x'
--capture x.wav|--capture takes a .vgm, .vgz or .dro file, not 'x.wav'
--chip serial:|--chip serial needs a device after the colon: serial:DEVICE[:PROTOCOL]
--chip serial:/dev/ttyUSB0:bogus|unknown serial protocol 'bogus' (arduino, nuke or retrowave)
--chip lpt:|--chip lpt needs a device after the colon
--chip none:x|unknown chip 'none:x'
--baud 9600|--baud needs --chip serial
--detect --capture x.vgm|--detect and --capture cannot go together
CASES

# A unique start of a long name stands for it, as in GNU tools.
run abbreviated 'sluta\n' --te --chip=none --emu mame
[ "$(status abbreviated)" = 0 ] || fail "--te --chip=none --emu mame: $(cat "$work/abbreviated.err")"

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
    [ "$(wc -l < "$work/same.err")" = 2 ] || fail "'$args' says more than one line"
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

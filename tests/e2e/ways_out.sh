#!/usr/bin/env bash
# The ways out of the real process: failed renders, full disks, links and devices, signals,
# a reader that goes away and closed standard streams. Outputs are finished or left as they
# were, and voices 1 and 2 are keyed off on every way out that can still write.
set -uo pipefail
vesk=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
ulimit -c 0  # QUIT dumps core; not here
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
export SDL_AUDIODRIVER=dummy

# Device nodes of the test's own (null and full), never the machine's: a fault that replaced a
# device would replace these, not /dev/null. Making them needs root; elsewhere the checks that
# need them are skipped.
null_dev=$work/null_dev
full_dev=$work/full_dev
if ! { mknod "$null_dev" c 1 3 && mknod "$full_dev" c 1 7 && echo > "$null_dev"; } 2> /dev/null; then
    echo "note: cannot make device nodes here; the device checks are skipped"
    null_dev=
fi

# no_temporaries DIR: no temporary output file was left there.
no_temporaries() { ! ls "$1" | grep -q '\.tmp$'; }
# ends_with_key_offs TRACE: the last two register writes key off voices 1 and 2.
ends_with_key_offs() {
    [ "$(grep '^out' "$1" | tail -4 | tr '\n' ' ')" = \
        "out 0388 00b0 out 0389 0000 out 0388 00b1 out 0389 0000 " ]
}
# key_ons TRACE: how many key-ons of voice 1 the trace holds.
key_ons() { grep -A7 '^out 0388 00b0$' "$1" | grep -c '^out 0389 00[23]'; }  # 6 reads between

# A render that cannot write its WAV leaves the capture and trace it would have replaced.
mkdir render_fails && cd render_fails
echo old > c.vgm && echo old > t.trace
"$vesk" --render missing/x.wav --capture c.vgm --port-trace t.trace 2> err
status=$?
[ "$status" = 1 ] || fail "failed render exits $status"
[ "$(cat c.vgm t.trace)" = "$(printf 'old\nold')" ] || fail "failed render replaced its outputs"
[ "$(ls | sort | tr '\n' ' ')" = "c.vgm err t.trace " ] || fail "failed render left: $(ls)"
mkdir d.wav
"$vesk" --render d.wav 2> err
[ $? = 1 ] && grep -qx 'vesk: cannot write d.wav: Is a directory' err ||
    fail "render into a directory: $(cat err)"
cd ..

if [ -n "$null_dev" ]; then
    # A full disk, as a file-size limit, while the trace is finished: the reason is named and
    # no temporary file is left.
    mkdir full && cd full
    (ulimit -f 64; exec "$vesk" --render "$null_dev" --emulator mame --port-trace t.trace \
        --capture c.vgm 2> err)
    status=$?
    [ "$status" = 1 ] || fail "full disk exits $status"
    grep -qx 'vesk: cannot write t.trace: File too large' err || fail "full disk: $(cat err)"
    [ ! -e t.trace ] && no_temporaries . || fail "full disk left: $(ls)"
    # The capture, written whole at the end, names the reason too.
    echo old > c.vgm
    (ulimit -f 1; exec "$vesk" --render "$null_dev" --emulator mame --capture c.vgm 2> err)
    [ $? = 1 ] && grep -qx 'vesk: cannot write c.vgm: File too large' err ||
        fail "full disk, capture: $(cat err)"
    [ "$(cat c.vgm)" = old ] && no_temporaries . || fail "full disk, capture, left: $(ls)"
    cd ..

    # Links stay links, and a device is written where it stands: a full one is an error.
    mkdir links && cd links
    echo old > real.trace && ln -s real.trace t.trace && ln -s "$full_dev" full.wav
    "$vesk" --render "$null_dev" --emulator mame --port-trace t.trace || fail "trace via a link"
    [ -L t.trace ] && [ "$(grep -c . real.trace)" -gt 1000 ] || fail "the link was not followed"
    "$vesk" --render full.wav --emulator mame 2> err
    [ $? = 1 ] && grep -q 'No space left on device' err || fail "a full device: $(cat err)"
    [ -L full.wav ] && [ -c "$full_dev" ] || fail "the link to a full device was replaced"
    "$vesk" --render "$full_dev" --emulator mame 2> /dev/null && fail "a full device succeeded"
    [ -c "$full_dev" ] || fail "a device node was replaced by a file"
    # A link like /dev/stdout's (never /dev/stdout itself, which a fault would replace), here
    # to a pipe: written in place, as what it stands for.
    ln -s /proc/self/fd/1 stdout
    lines=$("$vesk" --render "$null_dev" --emulator mame --port-trace stdout |
        grep -c '^out 0389')
    [ "$lines" -gt 700 ] && [ -L stdout ] || fail "a trace to stdout held $lines register writes"
    no_temporaries . || fail "links left: $(ls)"
    cd ..
fi

# A signal during a render keys off before the trace and the capture are finished.
"$vesk" --render s.wav --emulator nuked --port-trace s.trace --capture s.vgm 2> /dev/null &
pid=$!
sleep 0.5
kill -TERM "$pid"
wait "$pid"
status=$?
if [ "$status" = 0 ]; then
    echo "note: the render ended before the signal; its key-offs are not checked"
else
    [ "$status" = 143 ] || fail "TERM during a render exits $status"
    [ ! -e s.wav ] || fail "TERM left an unfinished WAV"
    [ "$(key_ons s.trace)" -gt 0 ] && ends_with_key_offs s.trace ||
        fail "TERM during a render: the trace does not end with key-offs"
    [ -s s.vgm ] || fail "TERM during a render: no capture"
fi
no_temporaries . || fail "TERM during a render left: $(ls)"

# HUP (a closed terminal) and QUIT (Ctrl-\) in the middle of a playback.
for sig in HUP QUIT; do
    { echo start; sleep 3; } 2> /dev/null | "$vesk" --text --chip none --port-trace "$sig.trace" \
        --capture "$sig.vgm" > /dev/null 2>&1 &
    pid=$!
    sleep 1.5
    kill -"$sig" "$pid"
    wait "$pid" 2> /dev/null  # no job report on the test's output
    status=$?
    expected=$((128 + $(kill -l "$sig")))
    [ "$status" = "$expected" ] || fail "$sig exits $status, not $expected"
    [ "$(key_ons "$sig.trace")" -gt 0 ] && ends_with_key_offs "$sig.trace" ||
        fail "$sig: the trace does not end with key-offs"
    [ -s "$sig.vgm" ] || fail "$sig: no capture"
done
no_temporaries . || fail "HUP or QUIT left: $(ls)"

# A reader that goes away (| head) is the end of output, not a fault and not a death.
{ echo start; sleep 2; echo sluta; } |
    "$vesk" --text --chip none --port-trace pipe.trace 2> pipe.err | head -1 > /dev/null
status=${PIPESTATUS[1]}
[ "$status" = 0 ] || fail "output to a closed pipe exits $status: $(cat pipe.err)"
ends_with_key_offs pipe.trace || fail "output to a closed pipe: no key-offs"

# Closed standard streams: stdin closed is end of input at once ...
timeout 10 "$vesk" --text --chip none < /dev/null > /dev/null 0<&-
status=$?
[ "$status" = 0 ] || fail "closed stdin exits $status"
# ... and closed stdout and stderr become the null device, not the program's own files.
{ sleep 2; echo sluta; } | env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    "$vesk" --chip none >&- 2>&- &
pid=$!
# Looked at until it shows, while the program waits for its input; the loader's own files
# pass through these numbers first.
on_null=0
for _ in $(seq 100); do
    [ "$(readlink "/proc/$pid/fd/1")" = /dev/null ] &&
        [ "$(readlink "/proc/$pid/fd/2")" = /dev/null ] && on_null=1 && break
    sleep 0.05
done
[ "$on_null" = 1 ] || fail "closed stdout and stderr were not put on /dev/null"
wait "$pid" || fail "closed stdout and stderr: nonzero exit"

[ "$failures" = 0 ] && echo "ways out: all checks passed"
exit $((failures > 0))

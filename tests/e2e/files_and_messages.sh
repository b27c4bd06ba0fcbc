#!/usr/bin/env bash
# Outputs and messages as people really meet them: a render piped on, links between outputs,
# shared folders, read-only and hard-linked files, names as long as the system takes, and names
# or input holding control characters. Everything here runs in a scratch folder of its own.
set -uo pipefail
vesk=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
export SDL_AUDIODRIVER=dummy
render() { "$vesk" --emulator mame "$@"; }
# as_nobody COMMAND...: as an ordinary user, where the test runs as root.
as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }
root=0
[ "$(id -u)" = 0 ] && command -v setpriv > /dev/null && root=1

# ---- A render piped on gets exactly the bytes a regular file gets ----
render --render regular.wav || fail "render to a regular file"
ln -s /proc/self/fd/1 stdout  # as /dev/stdout is, without touching the machine's own node
render --render stdout | cat > piped.wav
mkfifo fifo.wav
cat fifo.wav > from_fifo.wav &
render --render fifo.wav
wait $!
for copy in piped.wav from_fifo.wav; do
    cmp -s regular.wav "$copy" || fail "$copy differs from the regular file: $(stat -c %s "$copy") bytes"
done
# An independent reader finds the whole tune in it.
python3 -c 'import sys, wave; w = wave.open(sys.argv[1]); sys.exit(w.getnframes() < 48000 * 60)' \
    piped.wav || fail "Python's wave module reads the piped render short"

# ---- Two outputs in one file, whatever links stand between: a usage error ----
ln -s out.wav dangling.txt
ln -s hop.vgm chain.txt && ln -s sub/../c.vgm hop.vgm && mkdir sub
while read -r args; do
    # shellcheck disable=SC2086
    render $args > /dev/null 2> err
    status=$?
    [ "$status" = 2 ] || fail "'$args' exits $status, not 2"
    grep -q 'name the same file' err || fail "'$args': $(head -1 err)"
    [ ! -e out.wav ] && [ ! -e c.vgm ] || fail "'$args' wrote an output"
done << 'EOF'
--render out.wav --port-trace dangling.txt
--render out.wav --capture c.vgm --port-trace chain.txt
--chip none --capture c.vgm --port-trace chain.txt
EOF

# ---- Read-only, hard-linked ----
mkdir shared && chmod 1777 shared
if [ "$root" = 1 ]; then
    # A read-only output is refused as a shell's redirect refuses it, and is left alone.
    mkdir mine && chown nobody mine
    echo old > mine/ro.wav && chown nobody mine/ro.wav && chmod 444 mine/ro.wav
    as_nobody "$vesk" --emulator mame --render mine/ro.wav 2> err
    status=$?
    [ "$status" = 1 ] && grep -qx 'vesk: cannot write mine/ro.wav: Permission denied' err ||
        fail "a read-only output: status $status, $(cat err)"
    [ "$(cat mine/ro.wav)" = old ] || fail "a read-only output was replaced"
fi
# A hard-linked output is replaced, and the user is told its other name keeps the old content.
echo old > a.trace && ln a.trace b.trace
"$vesk" --text --chip none --port-trace a.trace < /dev/null > /dev/null 2> err
[ $? = 0 ] || fail "a hard-linked trace: $(cat err)"
[ "$(grep -c . err)" = 1 ] && grep -q 'a.trace.*other hard-linked name keeps the old content' err ||
    fail "a hard-linked trace: $(cat err)"
[ "$(cat b.trace)" = old ] && grep -q '^out 0388' a.trace || fail "a hard-linked trace: not replaced"

# ---- Links in a sticky world-writable folder: followed as the kernel would follow them ----
if [ "$root" = 1 ]; then
    # link OWNER FOLDER_OWNER EXPECTED_STATUS: root renders to a link OWNER made in a shared
    # folder that FOLDER_OWNER owns, to a root-only file.
    while read -r owner folder_owner expected; do
        rm -rf shared/* && chown "$folder_owner" shared
        echo secret > shared/target && chmod 600 shared/target
        ln -s target shared/link && chown -h "$owner" shared/link
        render --render shared/link 2> err
        status=$?
        [ "$status" = "$expected" ] || fail "a link of $owner in $folder_owner's folder: $status"
        if [ "$expected" = 1 ]; then
            [ "$(cat shared/target)" = secret ] && [ "$(grep -c . err)" = 1 ] ||
                fail "a link of $owner in $folder_owner's folder was followed: $(cat err)"
        else
            [ "$(head -c 4 shared/target)" = RIFF ] || fail "the link of $owner was not followed"
        fi
        [ "$(ls shared | tr '\n' ' ')" = "link target " ] || fail "shared folder left: $(ls shared)"
    done << 'EOF'
nobody root 1
root root 0
nobody nobody 0
EOF
fi

# ---- Any name the system takes is writable ----
long=$(printf 'n%.0s' $(seq 251)).wav  # 255 bytes, the longest a name may be
render --render "$long" 2> err || fail "a 255-byte name: $(cat err)"
# A path within 11 bytes of PATH_MAX (4096 with its NUL): folders of 200 bytes, then a name.
deep=$work
while [ $((${#deep} + 201 + 12)) -lt 4086 ]; do
    deep=$deep/$(printf 'd%.0s' $(seq 200))
    mkdir "$deep" || break
done
name=$(printf 'x%.0s' $(seq $((4086 - ${#deep} - 5)))).wav
"$vesk" --text --chip none --port-trace "$deep/$name" < /dev/null > /dev/null 2> err ||
    fail "a ${#deep}+${#name}-byte path: $(cat err)"
grep -q '^out 0388' "$deep/$name" || fail "the long path holds no trace"
[ "$(ls "$deep" | wc -l)" = 1 ] || fail "the long path's folder: $(ls "$deep")"

# ---- Control characters in names and input are shown escaped, one line each ----
printf 'sluta\0\n\033]0;retitled\007\nstart\302\233\n' |
    "$vesk" --text --chip none > out 2> /dev/null
while read -r line; do
    grep -qxF "$line" out || fail "no line: $line"
done << 'EOF'
vesk: unknown command "sluta\0"; type "start" or "sluta".
vesk: unknown command "\x1b]0;retitled\x07"; type "start" or "sluta".
vesk: unknown command "start\xc2\x9b"; type "start" or "sluta".
EOF
render --render $'bad\nvesk: all is well/x.wav' 2> err
[ "$(grep -c . err)" = 1 ] && grep -qF 'bad\nvesk: all is well/x.wav' err ||
    fail "a name with a newline: $(cat err)"

# ---- A message never shares a line with a progress bar ----
# A full disk, as a file-size limit, stops the render part of the way through.
(ulimit -f 4000; exec python3 "$here/on_terminal.py" "$vesk" --render full.wav) > tty
[ "$(head -1 tty)" = 1 ] || fail "a render to a full disk on a terminal exits $(head -1 tty)"
grep -q 'vesk: rendering \[' tty || echo "note: no progress bar was shown; the check is weaker"
grep -qx 'vesk: cannot write full.wav: File too large' tty ||
    fail "the render's error shares a line: $(tail -3 tty)"

! ls -A . shared | grep -q '\.tmp$' || fail "temporary files left: $(ls -A . shared)"
[ "$failures" = 0 ] && echo "files and messages: all checks passed"
exit $((failures > 0))

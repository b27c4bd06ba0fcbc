#!/usr/bin/env bash
# A sound server that misbehaves under a playing program, through a server of the test's own,
# PulseAudio or PipeWire: one that stops answering (SIGSTOP) never holds the way out, one that
# is killed and started again is said so and heard again, and only a gap that was heard is
# counted.
# Usage: server_loss.sh VESK SCRATCH_DIR [pulseaudio|pipewire]. Exits 77 (skip) if that server
# is not installed.
set -uo pipefail

vesk=$1
scratch=$2
server=${3:-pulseaudio}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/pulse_server.sh"
source "$here/pipewire_server.sh"

rm -rf "$scratch"
mkdir -p "$scratch"
player=
stopped=
finish() {
    [ -n "$stopped" ] && kill -CONT "$stopped" 2> /dev/null
    [ -n "$player" ] && kill -KILL "$player" 2> /dev/null
    stop_pulse_server
    stop_pipewire_server
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
status=0
if [ "$server" = pipewire ]; then
    # What a PipeWire desktop runs the program with: no driver chosen.
    start_pipewire_server "$scratch/server" || status=$?
    unset SDL_AUDIODRIVER
    server_pid() { echo "$pipewire_daemon_pid"; }
    restart_server() { restart_pipewire_server; }
else
    start_pulse_server "$scratch" || status=$?
    export SDL_AUDIODRIVER=pulseaudio
    server_pid() { echo "$pulse_server_pid"; }
    restart_server() {
        kill -KILL "$pulse_server_pid"
        wait "$pulse_server_pid" 2> /dev/null
        pulse_server_pid=
        sleep 0.5
        start_pulse_server "$scratch"
    }
fi
[ "$status" -eq 0 ] || exit "$status"

# play NAME [idle]: starts the program playing the tune (or, idle, only waiting), its input on
# fd 3, in $scratch/NAME.*.
play() {
    rm -f "$scratch/$1.in"
    mkfifo "$scratch/$1.in"
    "$vesk" --text --capture "$scratch/$1.vgm" < "$scratch/$1.in" > "$scratch/$1.out" \
        2> "$scratch/$1.err" &
    player=$!
    exec 3> "$scratch/$1.in"
    [ "${2:-}" = idle ] || echo start >&3
}
# ended_within SECONDS: the program has ended within that long; its status is in $ended.
ended_within() {
    local deadline=$((SECONDS + $1))
    while kill -0 "$player" 2> /dev/null && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.05; done
    if kill -0 "$player" 2> /dev/null; then
        ended=
        return 1
    fi
    wait "$player"
    ended=$?
    player=
}
# finished_capture FILE: a whole VGM file, its length field set.
finished_capture() {
    [ "$(head -c 4 "$1")" = "Vgm " ] && [ "$(od -An -tu4 -j24 -N4 "$1" | tr -d ' ')" -gt 0 ]
}

# A server stopped mid-song: "sluta" and SIGTERM still end the program within a second,
# outputs finished. It takes about a tenth of that.
for how in sluta TERM; do
    play "stopped-$how"
    sleep 2
    stopped=$(server_pid)
    kill -STOP "$stopped"
    sleep 0.5
    start_s=$(date +%s.%N)
    if [ "$how" = sluta ]; then echo sluta >&3; else kill -TERM "$player"; fi
    expected=$([ "$how" = sluta ] && echo 0 || echo 143)
    if ended_within 10; then
        took=$(echo "$(date +%s.%N) - $start_s" | bc)
        echo "$how with the server stopped: status $ended after $took s"
        [ "$ended" = "$expected" ] || fail "$how with the server stopped: status $ended"
        [ "$(echo "$took < 1" | bc)" = 1 ] || fail "$how with the server stopped took $took s"
        finished_capture "$scratch/stopped-$how.vgm" || fail "$how left the capture unfinished"
    else
        fail "$how with the server stopped: still running after 10 s"
    fi
    exec 3>&-
    kill -CONT "$stopped"
    stopped=
done

# A server killed mid-song and started again: one line says the sound went, one that it is
# back, and the rest of the tune is heard from the new server.
play restarted
sleep 2
restart_server || exit 1
# The program finds the new server within a second; the recording then hears the tune.
sleep 2
parec --format=s16le --rate=48000 --channels=1 --raw --device=@DEFAULT_MONITOR@ \
    > "$scratch/restarted.raw" &
recorder=$!
# A new recording can stay silent for its first two seconds.
sleep 4
kill "$recorder"
wait "$recorder" 2> /dev/null
echo sluta >&3
ended_within 10 || fail "after the restart, sluta did not end the program"
exec 3>&-
grep -qx 'vesk: the sound server went away; playing on silently until it is back' \
    "$scratch/restarted.err" || fail "no line for the lost server: $(cat "$scratch/restarted.err")"
grep -qx 'vesk: the sound server is back; playing on' "$scratch/restarted.err" ||
    fail "no line for the server's return: $(cat "$scratch/restarted.err")"
loudest=$(od -An -td2 -v "$scratch/restarted.raw" | tr -s ' ' '\n' | tr -d - | sort -n | tail -1)
echo "after the restart the loudest sample is ${loudest:-none}"
[ "${loudest:-0}" -ge 1000 ] || fail "the tune is not heard after the server's restart"

# The count is of gaps a listener heard. Each case: its name, whether the tune plays, and
# whether the program is held up (SIGSTOP) for 150 ms, far past any queue it keeps. Held up
# while a note sounds, the server runs dry at least once and the program says so, in the right
# number; with nothing played, held up or not, there is nothing to count.
while read -r name plays held; do
    play "count-$name" "$([ "$plays" = yes ] || echo idle)"
    # An idle null sink takes up to 2 s to start playing a new stream.
    sleep 4
    if [ "$held" = yes ]; then
        kill -STOP "$player"
        sleep 0.15
        kill -CONT "$player"
    fi
    sleep 1
    echo sluta >&3
    ended_within 10 || fail "$name: sluta did not end the program"
    exec 3>&-
    [ "${ended:-1}" = 0 ] || fail "$name: status ${ended:-none}: $(cat "$scratch/count-$name.err")"
    said=$(grep 'drop-out' "$scratch/count-$name.err")
    echo "$name: ${said:-no drop-outs said}"
    counted=$(sed -n 's/^vesk: \([0-9]*\) drop-outs*: .*/\1/p' <<< "$said")
    if [ "$plays" = yes ] && [ "$held" = yes ]; then
        [ "${counted:-0}" -ge 1 ] || fail "$name: the gap was not counted"
    else
        [ -z "$said" ] || fail "$name: counted what nobody heard: $said"
    fi
    case $counted in
        1) [[ $said == *": 1 drop-out: "* ]] || fail "$name: $said" ;;
        [0-9]*) [[ $said == *" drop-outs: "* ]] || fail "$name: $said" ;;
    esac
done << 'CASES'
idle no no
idle-held no yes
held yes yes
CASES

[ "$failures" -eq 0 ]

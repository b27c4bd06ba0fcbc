#!/usr/bin/env bash
# Ctrl-C and SIGTERM while an output blocks: a FIFO that nobody opens for reading, or one whose
# reader never reads. The program ends with 128 + the signal, soon, and leaves nothing behind.
set -uo pipefail
vesk=$(realpath "$1")
work=$(mktemp -d)
readers=()
cleanup() {
    for pid in "${readers[@]}"; do kill "$pid" 2> /dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
export SDL_AUDIODRIVER=dummy

# Each case: the signal, whether the FIFO gets a reader that never reads, and the arguments
# (out.fifo is the FIFO).
while read -r sig reader args; do
    rm -f out.fifo && mkfifo out.fifo
    if [ "$reader" = stalled ]; then
        # Opens the FIFO and never reads it.
        sleep 60 < out.fifo &
        readers+=($!)
    fi
    # shellcheck disable=SC2086
    "$vesk" $args < /dev/null > /dev/null 2> err &
    pid=$!
    sleep 1.5
    sent=$(date +%s%N)
    kill -"$sig" "$pid"
    wait "$pid"
    status=$?
    took_ms=$((($(date +%s%N) - sent) / 1000000))
    expected=$((128 + $(kill -l "$sig")))
    [ "$status" = "$expected" ] || fail "$sig with '$args' ($reader reader): $status, not $expected: $(cat err)"
    # The program was told to stop; a second or two spare for a loaded machine.
    [ "$took_ms" -lt 3000 ] || fail "$sig with '$args' ($reader reader) took $took_ms ms"
    [ -p out.fifo ] || fail "'$args': the FIFO was replaced"
    ! ls | grep -q '\.tmp$' || fail "'$args' left: $(ls)"
done << 'CASES'
INT none --render out.fifo
TERM none --text --chip none --capture c.vgm --port-trace out.fifo
INT stalled --text --chip none --port-trace out.fifo
TERM stalled --render r.wav --port-trace out.fifo
CASES

[ "$failures" = 0 ] && echo "blocked outputs: all checks passed"
exit $((failures > 0))

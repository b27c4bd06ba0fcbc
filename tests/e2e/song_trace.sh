#!/usr/bin/env bash
# The whole song's port trace: start-up, then 74 steps of six writes.
#   song_trace.sh realtime VESK: one playback in the text front end, ended by end of input;
#                                about 67 s by the wall clock.
#   song_trace.sh render VESK:   the same playback rendered on the chip's own clock, in a moment.
set -euo pipefail
mode=$1
vesk=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

case $mode in
    realtime)
        printf 'start\n' | "$vesk" --text --chip none --port-trace "$work/t.txt" > "$work/out.txt"
        grep -c '^step ' "$work/out.txt" | grep -qx 74 || { echo "progress did not show 74 steps"; exit 1; }
        ;;
    render)
        "$vesk" --render "$work/song.wav" --emulator dosbox --port-trace "$work/t.txt"
        ;;
    *) echo "usage: song_trace.sh realtime|render VESK" >&2; exit 2 ;;
esac

# The song's notes, from the notation of the stored strings; the register bytes come from
# the expected-trace script, not from the program.
python3 "$here/song_steps.py" "$here/../../song/stored_song.cpp" > "$work/steps.txt"
[ "$(wc -l < "$work/steps.txt")" -eq 74 ] || { echo "could not read the song"; exit 1; }
python3 "$here/expected_trace.py" song "$work/steps.txt" > "$work/expected.txt"
diff -q "$work/expected.txt" "$work/t.txt"
echo "$mode trace exact: start-up and 74 steps of six writes"

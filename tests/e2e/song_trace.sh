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
python3 - "$here/../../song/stored_song.cpp" > "$work/steps.txt" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
strings = re.findall(r'"(O[^"]*)"', text)
assert len(strings) == 16, len(strings)
pitch = {"A ": 577, "A#": 611, "B ": 647, "C ": 341, "C#": 363, "D ": 385, "D#": 408,
         "E ": 432, "F ": 458, "F#": 485, "G ": 514, "G#": 544}
tracks = ["", ""]
for i, s in enumerate(strings):
    tracks[i % 2] += s
tok = [[t[k:k + 6] for k in range(0, len(t), 6)] for t in tracks]
for a, b in zip(*tok):
    print(pitch.get(a[4:6], 0), int(a[1]), pitch.get(b[4:6], 0), int(b[1]))
PY
[ "$(wc -l < "$work/steps.txt")" -eq 74 ] || { echo "could not read the song"; exit 1; }
python3 "$here/expected_trace.py" song "$work/steps.txt" > "$work/expected.txt"
diff -q "$work/expected.txt" "$work/t.txt"
echo "$mode trace exact: start-up and 74 steps of six writes"

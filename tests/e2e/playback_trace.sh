#!/usr/bin/env bash
# One real-time playback in the text front end: start-up, then 74 steps of six writes, then exit
# at end of input. About 67 s by the wall clock.
set -euo pipefail
vesk=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf 'start\n' | "$vesk" --text --chip none --port-trace "$work/t.txt" > "$work/out.txt"
grep -c '^step ' "$work/out.txt" | grep -qx 74 || { echo "progress did not show 74 steps"; exit 1; }

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
echo "playback trace exact: start-up and 74 steps of six writes"

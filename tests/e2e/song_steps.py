#!/usr/bin/env python3
"""Prints the song's steps as "f1 b1 f2 b2" lines (F-number and block of each voice), read from
the note notation of the stored strings, for expected_trace.py song.

Usage: song_steps.py song/stored_song.cpp
"""
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

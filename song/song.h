// The voice tables: the stored note strings turned into chip-ready numbers, two tracks of 74 steps.
#pragma once

#include <string>

#include "common/int16.h"

namespace song {

using common::Int16;

inline constexpr int kSteps = 74;
using Track = common::CheckedArray<Int16, 1, kSteps>;

class Song {
public:
    // Fills both tracks from the stored song. Once only: a second load overruns the tables.
    void MakeMusic();
    // Appends the six-character tokens of InLine to track 1 (Voice 1) or track 2 (any other).
    void StringSend(Int16 Voice, const std::string& InLine);
    // Looks up one two-character field. Upper-cases A in the caller's variable, as a side effect.
    static Int16 Tune(std::string& A);

    Track VoiceNo1, Octave1, NoteLength1, FNumber1;
    Track VoiceNo2, Octave2, NoteLength2, FNumber2;
    // The index of the last step written on each track. They persist for the object's life.
    Int16 Count1, Count2;
};

}  // namespace song

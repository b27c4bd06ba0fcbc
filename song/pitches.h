// The notation's twelve pitches and their F-numbers, for the lookup and for naming notes.
#pragma once

#include <array>
#include <string_view>

namespace song {

struct Pitch {
    std::string_view field;  // as a token spells it: a letter, then '#' or a space
    std::string_view name;   // as a note is shown: "C", "C#"
    int fnumber;             // within one block; the block selects the octave
};

// C lowest. F-numbers at the chip's 49716 Hz: A4 (block 4) is 577, 440 Hz.
inline constexpr std::array<Pitch, 12> kPitches = {{
    {"C ", "C", 341},
    {"C#", "C#", 363},
    {"D ", "D", 385},
    {"D#", "D#", 408},
    {"E ", "E", 432},
    {"F ", "F", 458},
    {"F#", "F#", 485},
    {"G ", "G", 514},
    {"G#", "G#", 544},
    {"A ", "A", 577},
    {"A#", "A#", 611},
    {"B ", "B", 647},
}};

}  // namespace song

// The note notation: "O3L2B " is block 3, length field L2, pitch B natural.
#include "song/song.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>
#include <utility>

#include "song/pitches.h"
#include "song/stored_song.h"

namespace song {

namespace {

constexpr int kTokenChars = 6;

// The fields besides the pitches (song/pitches.h). Both length fields give the same value:
// every step of the tune lasts equally long.
constexpr std::array<std::pair<std::string_view, int>, 11> kOtherFields = {{
    {"L2", 2},
    {"L4", 2},
    {"O0", 0},
    {"O1", 1},
    {"O2", 2},
    {"O3", 3},
    {"O4", 4},
    {"O5", 5},
    {"O6", 6},
    {"O7", 7},
    {"P4", 0},
}};

// Characters first..first+count-1 (1-based), fewer if the text ends sooner.
std::string mid(const std::string& text, Int16 first, int count) {
    const auto start = static_cast<std::size_t>(first.value() - 1);
    if (start >= text.size()) return {};
    return text.substr(start, static_cast<std::size_t>(count));
}

}  // namespace

Int16 Song::Tune(std::string& A) {
    if (A.empty()) return Int16{0};
    std::transform(A.begin(), A.end(), A.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    for (const Pitch& pitch : kPitches)
        if (A == pitch.field) return Int16{pitch.fnumber};
    for (const auto& [key, value] : kOtherFields)
        if (A == key) return Int16{value};
    return Int16{0};  // unknown or malformed fields are stored as 0, not reported
}

void Song::StringSend(Int16 Voice, const std::string& InLine) {
    const Int16 n{static_cast<long long>(InLine.size())};
    for (Int16 p{1}; p <= n; p = p + Int16{kTokenChars}) {
        const std::string token = mid(InLine, p, kTokenChars);
        // Tune upper-cases its argument, so each field goes in as a throwaway copy.
        std::string octave = mid(token, Int16{1}, 2);
        std::string length = mid(token, Int16{3}, 2);
        std::string pitch = mid(token, Int16{5}, 2);
        // The counter moves before the store, so a 75th token fails with the counter at 75.
        if (Voice == Int16{1}) {
            Count1 = Count1 + Int16{1};
            VoiceNo1[Count1] = Voice;
            Octave1[Count1] = Tune(octave);
            NoteLength1[Count1] = Tune(length);
            FNumber1[Count1] = Tune(pitch);
        } else {
            Count2 = Count2 + Int16{1};
            VoiceNo2[Count2] = Voice;
            Octave2[Count2] = Tune(octave);
            NoteLength2[Count2] = Tune(length);
            FNumber2[Count2] = Tune(pitch);
        }
    }
}

void Song::MakeMusic() {
    // Upper part on voice 1, lower part on voice 2, one string of each in turn.
    Int16 voice{1};
    for (std::string_view line : kStoredSong) {
        StringSend(voice, std::string(line));
        voice = voice == Int16{1} ? Int16{2} : Int16{1};
    }
}

}  // namespace song

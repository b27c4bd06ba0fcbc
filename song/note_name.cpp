// The reverse of the pitch lookup: only the twelve F-numbers of the notation have names.
#include "song/note_name.h"

#include <array>
#include <string_view>
#include <utility>

namespace song {

std::string noteName(common::Int16 block, common::Int16 fnumber) {
    static constexpr std::array<std::pair<int, std::string_view>, 12> kNames = {{
        {341, "C"},
        {363, "C#"},
        {385, "D"},
        {408, "D#"},
        {432, "E"},
        {458, "F"},
        {485, "F#"},
        {514, "G"},
        {544, "G#"},
        {577, "A"},
        {611, "A#"},
        {647, "B"},
    }};
    if (fnumber.value() == 0) return "rest";
    for (const auto& [f, name] : kNames)
        if (f == fnumber.value()) return std::string(name) + std::to_string(block.value());
    return "?" + std::to_string(fnumber.value());
}

}  // namespace song

// The reverse of the pitch lookup: only the twelve F-numbers of the notation have names.
#include "song/note_name.h"

#include "song/pitches.h"

namespace song {

std::string noteName(common::Int16 block, common::Int16 fnumber) {
    if (fnumber.value() == 0) return "rest";
    for (const Pitch& pitch : kPitches)
        if (pitch.fnumber == fnumber.value())
            return std::string(pitch.name) + std::to_string(block.value());
    return "?" + std::to_string(fnumber.value());
}

}  // namespace song

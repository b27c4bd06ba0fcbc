// The stored tune: sixteen note strings, voices alternating 1, 2, 1, 2, ...
#include "song/stored_song.h"

namespace song {

const std::array<std::string_view, kStoredSongStrings> kStoredSong = {
    // Pair 1: the opening figure over a rising bass, back home to G.
    "O3L2B O3L4G O3L2A O3L4F#O3L4G O3L4A O3L4B ",
    "O2L2G O2L4B O3L2C O3L4D O3L4E O3L4D O2L4G ",
    // Pair 2: up to E and down again, mostly in tenths.
    "O4L2C O4L4D O4L2E O4L4D O4L2C O3L4B O4L4C O3L4B ",
    "O2L2A O2L4B O3L2C O3L4C O2L2A O2L4B O2L4A O2L4G ",
    // Pair 3: V-I cadence, rest, then the second phrase leaps up to G.
    "O3L2A O3L4F#O3L2G O3L4P4O4L2D O4L4G O4L2F#O4L4E ",
    "O3L2C O3L4D O2L2G O3L4P4O2L2G O2L4B O3L2D O3L4D ",
    // Pair 4: the upper part winds down by step against the bass.
    "O4L2D O4L4C O3L4B O4L4C O4L2D O4L4E O4L4D O4L4C O3L2B O3L4A O3L4B ",
    "O2L2B O2L4A O2L4G O2L4A O2L2B O3L4C O3L4C O2L4A O3L2D O3L4C O2L4G ",
    // Pair 5: second cadence on G, rest, then the long last phrase begins.
    "O4L2C O3L4A O3L2G O3L4P4O4L4D O4L4C O3L2B O4L4C O4L4D O4L4E ",
    "O2L2A O3L4D O2L2G O3L4P4O2L4G O2L4A O2L2B O2L4A O2L4F#O2L4G ",
    // Pair 6: climb to B, then the bass walks down an octave to a half close on D.
    "O4L2F#O4L4G O4L4A O4L2B O4L4A O4L4G O4L4F#O4L2E O4L4D O4L4E O4L4F#",
    "O3L2D O3L4D O3L4F#O3L2G O4L4C O3L4B O3L4A O3L2G O3L4F#O3L4E O3L4D ",
    // Pair 7: descending sequence in tenths.
    "O4L2G O4L4D O4L4E O4L4C O4L2D O3L4B O4L4C O3L4A O3L4B ",
    "O2L2G O2L4B O3L4C O2L4A O2L2B O2L4G O2L4E O2L4F#O2L4G ",
    // Pair 8: final cadence on G; the closing rest is written "P ".
    "O4L2D O4L4E O4L4D O4L4C O3L4B O4L4C O3L4B O3L4A O3L2G O3L4P ",
    "O2L2B O2L4A O2L4B O3L4C O3L4D O3L4E O3L4D O3L4D O2L2G O3L4P ",
};

}  // namespace song

// Register writes as a VGM 1.71 file for one YM3812, with a GD3 tag.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "capture/timed_write.h"

namespace capture {

inline constexpr int kVgmRateHz = 44100;  // VGM counts every wait in samples at this rate

// The GD3 strings we fill; the others stay empty. ASCII only: anything else becomes '?'.
struct VgmTags {
    std::string title;
    std::string system;
    std::string program;  // goes in the "converter" field
    std::string date;     // when the capture was made, "2026-12-08"; empty when unknown
};

// The whole file. Waits run to end_s, or to the last write if that is later. Raises
// std::length_error where the header cannot hold the length (over 2^32 samples, 27 hours).
std::vector<std::uint8_t> encodeVgm(std::span<const TimedWrite> writes, double end_s,
                                    const VgmTags& tags);

}  // namespace capture

// What both capture writers build their files from: little-endian fields and a clock of ticks.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace capture {

using Bytes = std::vector<std::uint8_t>;

// Both formats store their fields little-endian.
inline void put32(Bytes& out, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The tick (a VGM sample, a DRO millisecond) at which a write made `time_s` into the capture
// lands. Rounded from the absolute time, so the waits between writes never drift from the clock.
inline std::uint64_t tickAt(double time_s, double ticks_per_s) {
    if (!(time_s > 0.0)) return 0;
    return static_cast<std::uint64_t>(std::llround(time_s * ticks_per_s));
}

}  // namespace capture

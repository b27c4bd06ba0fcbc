// Register writes as a DOSBox raw OPL capture (DRO version 2) for one OPL2.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "capture/timed_write.h"

namespace capture {

// The whole file. Writes where the chip has no register are left out: they have no effect, and
// the codemap has room for 127 registers, not all 256 addresses. Delays run to end_s, or to the
// last write if that is later. Raises std::length_error where the header cannot hold the
// length (over 2^32 ms, 49 days).
std::vector<std::uint8_t> encodeDro(std::span<const TimedWrite> writes, double end_s);

}  // namespace capture

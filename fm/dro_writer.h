// Register writes as a DOSBox raw OPL capture (DRO version 2) for one OPL2.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "fm/timed_write.h"

namespace fm {

// Whether the OPL2 has a register at this address. Writes anywhere else have no effect, and
// DRO leaves them out: its codemap has room for 127 registers, not all 256 addresses.
bool opl2HasRegister(std::uint8_t reg);

// The whole file. Delays run to end_s, or to the last write if that is later.
std::vector<std::uint8_t> encodeDro(std::span<const TimedWrite> writes, double end_s);

}  // namespace fm

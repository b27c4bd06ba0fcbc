// One register write as a capture keeps it: when it happened, which register, what value.
#pragma once

#include <cstdint>

namespace capture {

struct TimedWrite {
    double time_s;  // since the capture started
    std::uint8_t reg;
    std::uint8_t value;
};

}  // namespace capture

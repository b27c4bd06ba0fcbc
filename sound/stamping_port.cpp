// Register writes become stamped writes for the thread that runs the chip.
#include "sound/stamping_port.h"

#include <algorithm>

namespace sound {

void StampingPort::out(std::uint16_t port, std::int16_t value) {
    if (auto write = decoder_.out(port, value)) {
        last_stamp_ = std::max(last_stamp_, now_frame_());
        // Waiting for room would stall the player behind the audio thread; a write the chip
        // cannot take in time is lost instead, and counted.
        if (!queue_.push({last_stamp_, write->reg, write->value})) ++dropped_;
    }
}

}  // namespace sound

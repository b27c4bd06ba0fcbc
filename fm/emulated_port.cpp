// An 8-bit port keeps only the low byte of what is written to it.
#include "fm/emulated_port.h"

#include <algorithm>

namespace fm {

void EmulatedPort::out(std::uint16_t port, std::int16_t value) {
    const auto byte = static_cast<std::uint8_t>(value & 0xFF);
    if (port == kAddressPort) {
        selected_ = byte;
    } else if (port == kDataPort) {
        last_stamp_ = std::max(last_stamp_, now_frame_());
        // Waiting for room would stall the player behind the audio thread; a write the chip
        // cannot take in time is lost instead, and counted.
        if (!queue_.push({last_stamp_, selected_, byte})) ++dropped_;
    }
}

}  // namespace fm

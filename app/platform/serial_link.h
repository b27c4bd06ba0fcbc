// The byte link to a serial OPL board: the platform's serial device, opened raw.
#pragma once

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include "common/run_error.h"
#include "fm/ports/serial_port.h"

namespace app {

// A board that takes no byte for this long has stopped: at 115200 baud a full kernel buffer
// (4 KiB for most USB serial drivers) drains in a third of a second.
constexpr auto kSerialStallLimit = std::chrono::seconds(5);

// The device could not be opened or set up as asked.
inline std::runtime_error serialDeviceUnusable(const std::string& device, const std::string& why) {
    return std::runtime_error("cannot use serial device " + device + ": " + why);
}

// The board went away in use: the run ends with a run-time error naming it.
[[noreturn]] inline void serialBoardLost(const std::string& device, const std::string& why,
                                         bool unplugged = false) {
    throw common::RunError(
        common::RunError::Kind::DeviceLost,
        "lost the serial board on " + device + ": " + why + (unplugged ? " (unplugged?)" : ""));
}

// A board that stopped taking data, rather than one that went away.
[[noreturn]] inline void serialBoardStalled(const std::string& device) {
    serialBoardLost(device,
                    "it took no data for " + std::to_string(kSerialStallLimit.count()) + " s");
}

// Opens DEVICE (/dev/ttyUSB0, /dev/ttyACM0; COM3 on Windows) raw, 8N1, without flow control,
// at `baud`, then gives the board settle_ms to start listening. Nothing is sent. Raises
// std::runtime_error with one line naming the device, the cause and, where there is one, the
// remedy.
std::unique_ptr<fm::SerialLink> openSerialLink(const std::string& device, int baud, int settle_ms);

}  // namespace app

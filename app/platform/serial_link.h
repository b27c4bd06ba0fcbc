// The byte link to a serial OPL board: the platform's serial device, opened raw.
#pragma once

#include <memory>
#include <string>

#include "fm/ports/serial_port.h"

namespace app {

// Opens DEVICE (/dev/ttyUSB0, /dev/ttyACM0; COM3 on Windows) raw, 8N1, without flow control,
// at `baud`, then gives the board settle_ms to start listening. Nothing is sent. Raises
// std::runtime_error with one line naming the device, the cause and, where there is one, the
// remedy.
std::unique_ptr<fm::SerialLink> openSerialLink(const std::string& device, int baud, int settle_ms);

}  // namespace app

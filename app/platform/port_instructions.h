// The machine's own port instructions, for --chip ports.
#pragma once

#include <memory>

#include "fm/ports/direct_port.h"

namespace app {

// ioperm, outb and inb from <sys/io.h> on x86 Linux. Elsewhere raises std::runtime_error
// saying that --chip ports is unavailable.
std::unique_ptr<fm::PortInstructions> machinePortInstructions();

}  // namespace app

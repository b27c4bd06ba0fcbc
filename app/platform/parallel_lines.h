// The parallel port an OPL2LPT or OPL3LPT sits on.
#pragma once

#include <memory>
#include <string>

#include "fm/ports/lpt_port.h"

namespace app {

struct OpenedParallelPort {
    std::unique_ptr<fm::ParallelLines> lines;
    std::string name;  // what the port is called: /dev/parport0, 0x378
};

// Linux: `device` is /dev/parportN, parportN, or empty for the first port, reached through
// libieee1284 (ppdev with the lp group, no root). Windows: the port's base address
// (0x378, 0x278, 0x3bc), reached through inpout32.dll. Raises std::runtime_error with one line
// naming the port, the cause and, where there is one, the remedy.
OpenedParallelPort openParallelPort(const std::string& device);

}  // namespace app

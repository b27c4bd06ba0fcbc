// On Windows a card's ports are reached through the port library, not the processor's own
// instructions: user programs may not execute them.
#include <stdexcept>

#include "app/platform/port_instructions.h"

namespace app {

std::unique_ptr<fm::PortInstructions> machinePortInstructions() {
    throw std::runtime_error(
        "--chip ports is unavailable on Windows: use --chip inpout32, which reaches the card "
        "through inpout32.dll");
}

}  // namespace app

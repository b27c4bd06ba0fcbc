// Port access without a library: the process asks the kernel for the two ports once.
#include "fm/ports/direct_port.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

#include "fm/opl2.h"

namespace fm {

namespace {
constexpr int kCardPorts = opl2::kDataPort - opl2::kAddressPort + 1;
}  // namespace

DirectPort::DirectPort(std::unique_ptr<PortInstructions> instructions)
    : instructions_(std::move(instructions)) {
    const int error = instructions_->ioperm(opl2::kAddressPort, kCardPorts);
    if (error == 0) return;
    std::string message = "--chip ports: no access to I/O ports 0x388-0x389 (ioperm: " +
                          std::string(std::strerror(error)) + ")";
    // The kernel grants ports to root or to a program with CAP_SYS_RAWIO, and to neither
    // while it is locked down (Secure Boot).
    if (error == EPERM)
        message +=
            "; run vesk as root or give it CAP_SYS_RAWIO "
            "(sudo setcap cap_sys_rawio+ep vesk), with kernel lockdown off";
    throw std::runtime_error(message);
}

void DirectPort::out(std::uint16_t port, std::int16_t value) {
    instructions_->outb(static_cast<std::uint8_t>(value & opl2::kPortByteMask), port);
}

std::uint8_t DirectPort::in(std::uint16_t port) { return instructions_->inb(port); }

}  // namespace fm

// The x86 port instructions as glibc has them; the only place the program touches real ports.
#include <stdexcept>

#include "app/platform/port_instructions.h"

#if defined(__i386__) || defined(__x86_64__)
#include <sys/io.h>

#include <cerrno>
#endif

namespace app {

#if defined(__i386__) || defined(__x86_64__)

namespace {
class X86PortInstructions final : public fm::PortInstructions {
public:
    int ioperm(std::uint16_t from, int count) override {
        return ::ioperm(from, static_cast<unsigned long>(count), 1) == 0 ? 0 : errno;
    }
    // glibc's outb takes the value first.
    void outb(std::uint8_t value, std::uint16_t port) override { ::outb(value, port); }
    std::uint8_t inb(std::uint16_t port) override { return ::inb(port); }
};
}  // namespace

std::unique_ptr<fm::PortInstructions> machinePortInstructions() {
    return std::make_unique<X86PortInstructions>();
}

#else

std::unique_ptr<fm::PortInstructions> machinePortInstructions() {
    throw std::runtime_error(
        "--chip ports is unavailable on this system: it needs an x86 processor's I/O ports");
}

#endif

}  // namespace app

// A parallel port through inpout32.dll at the port's base address.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "app/platform/parallel_lines.h"
#include "fm/ports/inpout32_port.h"

namespace app {

namespace {

class Inpout32Lines final : public fm::ParallelLines {
public:
    explicit Inpout32Lines(std::uint16_t base) : base_(base) {}

    void writeData(std::uint8_t value) override {
        port_.out(static_cast<std::uint16_t>(base_ + fm::lpt::kDataOffset), value);
    }
    void writeControl(std::uint8_t value) override {
        port_.out(static_cast<std::uint16_t>(base_ + fm::lpt::kControlOffset), value);
    }
    // A few microseconds: far below Windows' sleep, and each port access through the library's
    // driver takes about one already.
    void pause(int us) override {
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
        while (std::chrono::steady_clock::now() < until) {
        }
    }

private:
    std::uint16_t base_;
    fm::Inpout32Port port_{"--chip lpt:BASE needs inpout32.dll beside vesk.exe"};
};

}  // namespace

OpenedParallelPort openParallelPort(const std::string& device) {
    char* end = nullptr;
    const unsigned long base = device.empty() ? 0x378 : std::strtoul(device.c_str(), &end, 16);
    if ((!device.empty() && (end == nullptr || *end != '\0')) || base == 0 || base > 0xFFF8)
        throw std::runtime_error("--chip lpt: '" + device +
                                 "' is not a parallel port's base address (0x378, 0x278, 0x3bc)");
    char name[16];
    std::snprintf(name, sizeof name, "0x%lx", base);
    return {std::make_unique<Inpout32Lines>(static_cast<std::uint16_t>(base)), name};
}

}  // namespace app

// An OPL2LPT or OPL3LPT: an OPL chip on the parallel port, written through its data and control
// lines. The board cannot be read back.
#pragma once

#include <cstdint>
#include <memory>

#include "fm/opl2.h"
#include "fm/port_io.h"

namespace fm {

// The parallel port's control register, as a PC has it at its base address + 2. The port inverts
// nStrobe, nAutoFd and nSelectIn, so a set bit drives those lines low and nInit high.
namespace lpt {
inline constexpr std::uint8_t kStrobe = 0x01;
inline constexpr std::uint8_t kAutoFeed = 0x02;
inline constexpr std::uint8_t kInit = 0x04;
inline constexpr std::uint8_t kSelectIn = 0x08;
inline constexpr std::uint8_t kInvertedLines = kStrobe | kAutoFeed | kSelectIn;
inline constexpr int kDataOffset = 0;
inline constexpr int kControlOffset = 2;
}  // namespace lpt

// The port's lines, one implementation per platform (app/platform/parallel_lines_*).
class ParallelLines {
public:
    virtual ~ParallelLines() = default;
    virtual void writeData(std::uint8_t value) = 0;
    // A value for the control register as described above.
    virtual void writeControl(std::uint8_t value) = 0;
    // Lets at least this long pass.
    virtual void pause(int us) = 0;
};

// A write to the address port latches the register; a write to the data port puts the register
// and then the value on the board, each followed by the chip's delay. Status reads answer as an
// idle OPL2 without touching the port.
class LptPort final : public PortIo {
public:
    explicit LptPort(std::unique_ptr<ParallelLines> lines) : lines_(std::move(lines)) {}

    void out(std::uint16_t port, std::int16_t value) override;
    std::uint8_t in(std::uint16_t) override { return opl2::kIdleStatus; }

private:
    std::unique_ptr<ParallelLines> lines_;
    opl2::PortDecoder decoder_;
};

}  // namespace fm

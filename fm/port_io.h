// The only way to the chip: the two calls of a PC port I/O library.
#pragma once

#include <cstdint>

namespace fm {

inline constexpr std::uint16_t kAddressPort = 0x388;  // register select; reads back as status
inline constexpr std::uint16_t kDataPort = 0x389;

class PortIo {
public:
    virtual ~PortIo() = default;
    // The value is handed on unmasked; an 8-bit port only takes its low byte.
    virtual void out(std::uint16_t port, std::int16_t value) = 0;
    virtual std::uint8_t in(std::uint16_t port) = 0;
};

// An idle OPL2 reads back 0x06 on its status port: bits 2-1 set, no timer flags, no IRQ.
inline constexpr std::uint8_t kIdleOpl2Status = 0x06;

// A chip that is not there: writes go nowhere, status reads answer as an idle OPL2.
class NonePort final : public PortIo {
public:
    void out(std::uint16_t, std::int16_t) override {}
    std::uint8_t in(std::uint16_t) override { return kIdleOpl2Status; }
};

}  // namespace fm

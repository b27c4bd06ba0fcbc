// The only way to the chip: the two calls of a PC port I/O library.
#pragma once

#include <cstdint>

namespace fm {

class PortIo {
public:
    virtual ~PortIo() = default;
    // The value is handed on unmasked; an 8-bit port only takes its low byte.
    virtual void out(std::uint16_t port, std::int16_t value) = 0;
    virtual std::uint8_t in(std::uint16_t port) = 0;
};

}  // namespace fm

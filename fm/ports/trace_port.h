// A recorder in front of any backend: every port access, in order, one line each.
#pragma once

#include <ostream>

#include "fm/port_io.h"

namespace fm {

// Lines read "out PPPP VVVV" (the 16-bit value as handed on, two's complement) and "in PPPP".
class TracePort final : public PortIo {
public:
    TracePort(PortIo& next, std::ostream& out) : next_(next), out_(out) {}

    void out(std::uint16_t port, std::int16_t value) override;
    std::uint8_t in(std::uint16_t port) override;

private:
    PortIo& next_;
    std::ostream& out_;
};

}  // namespace fm

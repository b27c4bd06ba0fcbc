// A chip that is not there: writes go nowhere, status reads answer as an idle OPL2.
#pragma once

#include "fm/opl2.h"
#include "fm/port_io.h"

namespace fm {

class NonePort final : public PortIo {
public:
    void out(std::uint16_t, std::int16_t) override {}
    std::uint8_t in(std::uint16_t) override { return opl2::kIdleStatus; }
};

}  // namespace fm

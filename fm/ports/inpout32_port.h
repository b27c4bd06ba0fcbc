// The real chip on Windows, through the port library: Out32 and Inp32 from inpout32.dll.
#pragma once

#include "fm/port_io.h"

namespace fm {

// Loads the library at the first port access and keeps it loaded. A missing library, or one
// without the two entry points, is a fatal run-time error: "cannot load inpout32.dll: " and
// Windows' reason, the entry point that is missing, or a driver that is not running.
class Inpout32Port final : public PortIo {
public:
    void out(std::uint16_t port, std::int16_t value) override;
    std::uint8_t in(std::uint16_t port) override;

private:
    void load();

    using Out32Fn = void(__stdcall*)(short, short);
    using Inp32Fn = short(__stdcall*)(short);
    Out32Fn out32_ = nullptr;
    Inp32Fn inp32_ = nullptr;
};

}  // namespace fm

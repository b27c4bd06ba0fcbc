// The real chip on Windows, through the port library: Out32 and Inp32 from inpout32.dll.
#pragma once

#include <string>
#include <utility>

#include "fm/port_io.h"

namespace fm {

// Loads the library at the first port access and keeps it loaded. A missing library, or one
// without the two entry points, is a fatal run-time error: "cannot load inpout32.dll: " and
// Windows' reason, the entry point that is missing, or a driver that is not running; then, in
// brackets, `advice` where given: what the user can do instead.
class Inpout32Port final : public PortIo {
public:
    explicit Inpout32Port(std::string advice = {}) : advice_(std::move(advice)) {}
    void out(std::uint16_t port, std::int16_t value) override;
    std::uint8_t in(std::uint16_t port) override;

private:
    void load();
    [[noreturn]] void cannotLoad(const std::string& reason) const;

    using Out32Fn = void(__stdcall*)(short, short);
    using Inp32Fn = short(__stdcall*)(short);
    Out32Fn out32_ = nullptr;
    Inp32Fn inp32_ = nullptr;
    std::string advice_;
};

}  // namespace fm

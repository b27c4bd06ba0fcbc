// The one failure path: a fatal run-time error that names its fault. Only the shells catch it.
#pragma once

#include <stdexcept>
#include <string>

namespace common {

class RunError : public std::runtime_error {
public:
    enum class Kind {
        Overflow,
        SubscriptOutOfRange,
        DivisionByZero,
        PortLibraryMissing,
        DeviceLost,  // the link to a real chip failed: unplugged, or a write refused
    };

    explicit RunError(Kind kind) : std::runtime_error(describe(kind)), kind_(kind) {}
    // A fault whose wording comes from the platform, such as which library could not be loaded.
    RunError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}

    Kind kind() const { return kind_; }

private:
    static const char* describe(Kind kind) {
        switch (kind) {
            case Kind::Overflow:
                return "Overflow";
            case Kind::SubscriptOutOfRange:
                return "Subscript out of range";
            case Kind::DivisionByZero:
                return "Division by zero";
            case Kind::PortLibraryMissing:
                return "cannot load inpout32.dll";
            case Kind::DeviceLost:
                return "Device I/O error";
        }
        return "Run-time error";
    }

    Kind kind_;
};

}  // namespace common

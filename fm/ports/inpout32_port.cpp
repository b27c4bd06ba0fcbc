// Port access through inpout32.dll (inpoutx64.dll in a 64-bit build), which reaches the ports
// through its kernel driver on NT-family Windows.
#include "fm/ports/inpout32_port.h"

#include <windows.h>

#include "common/run_error.h"

namespace fm {

namespace {
#ifdef _WIN64
constexpr const char* kLibrary = "inpoutx64.dll";
#else
constexpr const char* kLibrary = "inpout32.dll";
#endif

// GetProcAddress returns a generic pointer; going through void(*)() is the sanctioned way to
// give it its real type.
template <typename Fn>
Fn entryPoint(HMODULE library, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}
}  // namespace

void Inpout32Port::load() {
    if (out32_ != nullptr) return;
    HMODULE library = LoadLibraryA(kLibrary);
    if (library == nullptr)
        throw common::RunError(common::RunError::Kind::PortLibraryMissing,
                               std::string("File not found: ") + kLibrary);
    auto out32 = entryPoint<Out32Fn>(library, "Out32");
    auto inp32 = entryPoint<Inp32Fn>(library, "Inp32");
    if (out32 == nullptr || inp32 == nullptr)
        throw common::RunError(
            common::RunError::Kind::PortLibraryMissing,
            std::string("Can't find DLL entry point Out32/Inp32 in ") + kLibrary);
    out32_ = out32;
    inp32_ = inp32;
}

void Inpout32Port::out(std::uint16_t port, std::int16_t value) {
    load();
    out32_(static_cast<short>(port), value);
}

std::uint8_t Inpout32Port::in(std::uint16_t port) {
    load();
    // Only the low byte of a read means anything.
    return static_cast<std::uint8_t>(inp32_(static_cast<short>(port)) & 0xFF);
}

}  // namespace fm

// Port access through inpout32.dll (inpoutx64.dll in a 64-bit build), which reaches the ports
// through its kernel driver on NT-family Windows.
#include "fm/ports/inpout32_port.h"

#include <windows.h>

#include <string>

#include "common/run_error.h"
#include "fm/ports/windows_error.h"

namespace fm {

namespace {
#ifdef _WIN64
constexpr const char* kLibrary = "inpoutx64.dll";
#else
constexpr const char* kLibrary = "inpout32.dll";
#endif

// GetProcAddress returns a generic pointer; going through void(*)() is the sanctioned way to
// give it its real type. nullptr where the library lacks it.
template <typename Fn>
Fn entryPoint(HMODULE library, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}
}  // namespace

void Inpout32Port::cannotLoad(const std::string& reason) const {
    std::string message = std::string("cannot load ") + kLibrary + ": " + reason;
    if (!advice_.empty()) message += " (" + advice_ + ")";
    throw common::RunError(common::RunError::Kind::PortLibraryMissing, message);
}

void Inpout32Port::load() {
    if (out32_ != nullptr) return;
    HMODULE library = LoadLibraryA(kLibrary);
    if (library == nullptr) cannotLoad(windowsErrorText(GetLastError()));
    // Both are looked up before either is kept, so a half-usable library is never used.
    const auto out32 = entryPoint<Out32Fn>(library, "Out32");
    if (out32 == nullptr) cannotLoad("it has no entry point Out32");
    const auto inp32 = entryPoint<Inp32Fn>(library, "Inp32");
    if (inp32 == nullptr) cannotLoad("it has no entry point Inp32");
    // Newer versions of the library say whether their kernel driver runs. Without it every
    // access goes nowhere, and the tune would play in silence with no word why.
    using DriverOpenFn = BOOL(__stdcall*)();
    const auto driver_open = reinterpret_cast<DriverOpenFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "IsInpOutDriverOpen")));
    if (driver_open != nullptr && !driver_open())
        cannotLoad("its driver is not running (run vesk.exe once as administrator)");
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

// A stand-in for the port library inpout32.dll: it touches no port, answers every read as an
// idle OPL2 and appends each access to the file named by VESK_INPOUT_TRACE, in the port-trace
// format ("out PPPP VVVV", "in PPPP").
#include <windows.h>

#include <cstdio>

#include "fm/opl2.h"

namespace {

// Opened at the first access and flushed after every line, so a program that ends abruptly
// still leaves every access it made. No variable, no trace.
std::FILE* traceFile() {
    static std::FILE* const file = [] {
        char path[MAX_PATH];
        const DWORD length = GetEnvironmentVariableA("VESK_INPOUT_TRACE", path, sizeof path);
        return length > 0 && length < sizeof path ? std::fopen(path, "ab") : nullptr;
    }();
    return file;
}

}  // namespace

// The real library's signatures; the .def files export them undecorated, as it does.
extern "C" void __stdcall Out32(short port, short data) {
    if (std::FILE* trace = traceFile()) {
        std::fprintf(trace, "out %04x %04x\n", static_cast<unsigned short>(port),
                     static_cast<unsigned short>(data));
        std::fflush(trace);
    }
}

// IsInpOutDriverOpen in the variant whose driver Windows did not let start.
extern "C" BOOL __stdcall DriverNotRunning() { return FALSE; }

extern "C" short __stdcall Inp32(short port) {
    if (std::FILE* trace = traceFile()) {
        std::fprintf(trace, "in %04x\n", static_cast<unsigned short>(port));
        std::fflush(trace);
    }
    return fm::opl2::kIdleStatus;
}

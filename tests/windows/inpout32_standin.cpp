// A stand-in for the port library inpout32.dll: it touches no port and appends each access to the
// file named by VESK_INPOUT_TRACE, in the port-trace format ("out PPPP VVVV", "in PPPP"). Every
// read answers VESK_STANDIN_STATUS: 0x06 as an idle OPL2 by default, 0x00 as an OPL3, 0xFF as an
// empty bus. With VESK_STANDIN_TIMERS it models timer 1 of an OPL2 in real time instead.
#include <windows.h>

#include <chrono>
#include <cstdio>

#include "fm/opl2.h"

#ifndef VESK_STANDIN_STATUS
#define VESK_STANDIN_STATUS 0x06
#endif

namespace {

// Timer 1: written with a count, started through register 4, it raises IRQ and its flag once
// (256 - count) ticks of 80 us have passed; a write with bit 7 resets the flags.
struct Timers {
    int selected = 0;
    int count = 0;
    int flags = 0;
    bool running = false;
    bool masked = true;
    std::chrono::steady_clock::time_point started;

    void write(short port, short data) {
        const int value = data & 0xFF;
        if (port == 0x388) selected = value;
        if (port != 0x389) return;
        if (selected == 0x02) count = value;
        if (selected != 0x04) return;
        if (value & 0x80) {
            flags = 0;
            return;
        }
        masked = (value & 0x40) != 0;
        running = (value & 0x01) != 0;
        started = std::chrono::steady_clock::now();
    }
    int status() {
        if (running && !masked &&
            std::chrono::steady_clock::now() - started >=
                std::chrono::microseconds(80 * (256 - count)))
            flags = 0xC0;
        return flags | 0x06;
    }
};
Timers g_timers;

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
    g_timers.write(port, data);
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
#ifdef VESK_STANDIN_TIMERS
    return static_cast<short>(g_timers.status());
#else
    static_assert(VESK_STANDIN_STATUS >= 0 && VESK_STANDIN_STATUS <= 0xFF);
    return VESK_STANDIN_STATUS;
#endif
}

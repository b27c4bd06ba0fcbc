// Whether an OPL chip answers at all: the timer test real drivers run before they trust a card.
#pragma once

#include <cstdint>
#include <functional>

#include "fm/port_io.h"

namespace fm {

enum class TimerVerdict {
    Opl2,     // the timer ran, and bits 2-1 read as set
    Opl3,     // the timer ran, and bits 2-1 read as clear
    NoTimer,  // something answers with clear flags, but its timer never fired: some PCI
              // chips have no timers, so whether it is an OPL cannot be told
    Absent,   // nothing that behaves like an OPL: an empty bus reads 0xFF
};

struct TimerTestResult {
    std::uint8_t before = 0;  // the status with both timers stopped and their flags reset
    std::uint8_t after = 0;   // the status once timer 1 has had time to overflow
    TimerVerdict verdict = TimerVerdict::Absent;
};

// The two status values' meaning.
TimerVerdict timerVerdict(std::uint8_t before, std::uint8_t after);

// Masks and resets the timers, reads the status, starts timer 1 one tick short of overflow,
// calls `wait_us` to let at least that long pass, reads the status again, then stops the timers
// as they were. Every register write keeps the chip's status-read delays.
TimerTestResult runTimerTest(PortIo& port, const std::function<void(int wait_us)>& wait_us);

}  // namespace fm

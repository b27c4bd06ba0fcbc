// The timer test: timer 1 set to overflow at its next 80 us tick, and the status read on each side.
#include "fm/timer_test.h"

#include "fm/blaster.h"
#include "fm/opl2.h"

namespace fm {

namespace {
// Timer 1 counts up from its register and overflows after 0xFF: one tick.
constexpr int kOneTickShort = 0xFF;
// A tick and a quarter, so that a timer a little slow still fires within the wait.
constexpr int kWaitUs = opl2::kTimer1TickUs + opl2::kTimer1TickUs / 4;
}  // namespace

TimerVerdict timerVerdict(std::uint8_t before, std::uint8_t after) {
    const bool quiet_before = (before & opl2::kTimerFlags) == 0;
    const bool fired_after = (after & opl2::kTimerFlags) == opl2::kTimer1Fired;
    if (quiet_before && fired_after)
        return (before & opl2::kChipKindBits) == opl2::kChipKindBits ? TimerVerdict::Opl2
                                                                     : TimerVerdict::Opl3;
    if (quiet_before) return TimerVerdict::NoTimer;
    return TimerVerdict::Absent;
}

TimerTestResult runTimerTest(PortIo& port, const std::function<void(int wait_us)>& wait_us) {
    Blaster chip(port);
    auto write = [&chip](int reg, int value) {
        chip.Blasterwritereg(Int16{static_cast<std::int16_t>(reg)},
                             Int16{static_cast<std::int16_t>(value)});
    };
    TimerTestResult result;
    write(opl2::kTimerControl, opl2::kMaskBothTimers);
    write(opl2::kTimerControl, opl2::kResetTimerFlags);
    result.before = port.in(opl2::kAddressPort);
    write(opl2::kTimer1Count, kOneTickShort);
    write(opl2::kTimerControl, opl2::kStartTimer1Only);
    wait_us(kWaitUs);
    result.after = port.in(opl2::kAddressPort);
    write(opl2::kTimerControl, opl2::kMaskBothTimers);
    write(opl2::kTimerControl, opl2::kResetTimerFlags);
    result.verdict = timerVerdict(result.before, result.after);
    return result;
}

}  // namespace fm

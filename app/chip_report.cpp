// The words for what answered at 0x388.
#include "app/chip_report.h"

#include <cstdio>

namespace app {

namespace {
std::string hexByte(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value & 0xFFu);
    return text;
}

constexpr const char* kCardAdvice = "is the card in, and set to this address?";
}  // namespace

ChipReport statusReport(const fm::StatusWatch& watch) {
    switch (watch.answer()) {
        case fm::StatusAnswer::NotRead:
            return {};
        case fm::StatusAnswer::Opl2:
            return {"OPL2 at 0x388", false, true};
        case fm::StatusAnswer::Opl3:
            return {"an OPL3 at 0x388 (it plays the tune as an OPL2)", false, true};
        case fm::StatusAnswer::Nothing:
            return {std::string("nothing answers at 0x388: every status read gave 0xff; ") +
                        kCardAdvice,
                    true, false};
        case fm::StatusAnswer::Unclear:
            break;
    }
    return {"something at 0x388 answers as neither an OPL2 nor an OPL3 (its status read " +
                hexByte(watch.lowest()) + " to " + hexByte(watch.highest()) +
                "); vesk --detect runs the timer test",
            true, false};
}

ChipReport timerReport(const fm::TimerTestResult& result) {
    const std::string reads =
        "status " + hexByte(result.before) + ", then " + hexByte(result.after);
    switch (result.verdict) {
        case fm::TimerVerdict::Opl2:
            return {"OPL2 at 0x388 (timer test: " + reads + ")", false, true};
        case fm::TimerVerdict::Opl3:
            return {"an OPL3 at 0x388 (timer test: " + reads + "); it plays the tune as an OPL2",
                    false, true};
        case fm::TimerVerdict::NoTimer:
            return {"something answers at 0x388, but its timer never ran (" + reads +
                        "): some PCI chips have no timers, so whether it is an OPL is unknown",
                    true, false};
        case fm::TimerVerdict::Absent:
            break;
    }
    return {"no OPL chip at 0x388 (timer test: " + reads + "); " + kCardAdvice, true, false};
}

}  // namespace app

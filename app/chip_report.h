// What the program says about the chip it found: after start-up, and for --detect.
#pragma once

#include <string>

#include "fm/ports/status_watch.h"
#include "fm/timer_test.h"

namespace app {

struct ChipReport {
    std::string line;      // one line, without "vesk: "
    bool warning = false;  // the user should see it in the window too
    bool found = false;    // a chip answered
};

// From the status reads start-up made anyway.
ChipReport statusReport(const fm::StatusWatch& watch);
// From the timer test of --detect.
ChipReport timerReport(const fm::TimerTestResult& result);

}  // namespace app

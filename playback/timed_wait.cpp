// The wait reads the clock afresh at every check, so it is exactly as accurate as the clock.
#include "playback/timed_wait.h"

#include <algorithm>

namespace playback {

void TimedWait::Sleep(double Seconds) {
    double start = clock_.secondsSinceMidnight();
    // The test comes first: a wait that is already over pumps no events at all.
    for (double elapsed; (elapsed = clock_.secondsSinceMidnight() - start) < Seconds;) {
        pump_.processEvents(std::min(kPumpSliceSeconds, Seconds - elapsed));
        // Past midnight the counter starts again from 0; move the start back a whole day.
        // Both sides are compared at the clock's own single precision.
        if (clock_.secondsSinceMidnight() < static_cast<float>(start)) start -= kSecondsPerDay;
    }
}

}  // namespace playback

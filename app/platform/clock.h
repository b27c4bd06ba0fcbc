// The platform clock: seconds since local midnight, at single precision like the timer it stands
// for.
#pragma once

#include "playback/timed_wait.h"

namespace app {

// The same wall clock at double precision, for time stamps finer than a wait needs.
double preciseSecondsSinceMidnight();

class RealClock final : public playback::Clock {
public:
    float secondsSinceMidnight() override;
};

}  // namespace app

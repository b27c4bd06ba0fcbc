// Local time of day from the wall clock.
#include <ctime>

#include "app/platform/clock.h"

namespace app {

double preciseSecondsSinceMidnight() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec +
           static_cast<double>(now.tv_nsec) / 1e9;
}

float RealClock::secondsSinceMidnight() {
    return static_cast<float>(preciseSecondsSinceMidnight());
}

}  // namespace app

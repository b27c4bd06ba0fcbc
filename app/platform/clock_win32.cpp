// Local time of day from the wall clock, in the milliseconds Windows keeps it in.
#include <windows.h>

#include "app/platform/clock.h"

namespace app {

double preciseSecondsSinceMidnight() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return now.wHour * 3600.0 + now.wMinute * 60.0 + now.wSecond + now.wMilliseconds / 1000.0;
}

float RealClock::secondsSinceMidnight() {
    return static_cast<float>(preciseSecondsSinceMidnight());
}

}  // namespace app

// The drop-outs a listener heard, from what the device or sound server says of running dry.
#pragma once

#include <cstdint>
#include <limits>
#include <utility>

namespace sound {

// A gap is heard where the sound before it or after it is. One gap can be reported more than
// once: after a stall, PulseAudio drops what was written for the time it lost, and runs dry
// again a few ms later, before the fresh parts reach it. What is reported again sooner than the
// queue could have played belongs to the gap already counted.
class DropOutCount {
public:
    // A part of output began at start_ns; `ran_dry`: the device played silence just before it;
    // `same_gap_ns`: how long the device's queue lasts. True if this is a gap not yet counted.
    bool onPart(std::int64_t start_ns, bool audible, bool ran_dry, std::int64_t same_gap_ns) {
        const bool was_audible = std::exchange(last_audible_, audible);
        if (!ran_dry || !(audible || was_audible)) return false;
        if (start_ns - last_counted_ns_ < same_gap_ns) return false;
        last_counted_ns_ = start_ns;
        return true;
    }

private:
    bool last_audible_ = false;
    std::int64_t last_counted_ns_ = std::numeric_limits<std::int64_t>::min() / 2;
};

}  // namespace sound

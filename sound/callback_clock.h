// The pace at which a sound device asks for samples, and the times it fell behind it.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "sound/sample_time.h"

namespace sound {

// A device asks unevenly: a sound server sends its requests in bursts, and a callback can come
// late, never early. Against the earliest of the last few callbacks, though, each sample's place
// in time stays put, and that is what writes are stamped against. A callback later than the
// device's queue lasts means the device has played silence in the meantime.
class CallbackClock {
public:
    static constexpr std::size_t kCallbacks = 16;

    struct Step {
        std::int64_t frame_ns;  // where the frame stands on the pace: never after the callback
        bool ran_dry;           // the callback came too late for the device
    };

    // dry_after_ns: how late a callback may come before the device has run out.
    CallbackClock(int rate_hz, std::int64_t dry_after_ns)
        : rate_hz_(rate_hz), dry_after_ns_(dry_after_ns) {}

    // A callback that began at start_ns asked for samples from `frame` on.
    Step onCallback(std::int64_t frame, std::int64_t start_ns) {
        const std::int64_t frame_ns = framesToNs(frame, rate_hz_);
        const std::int64_t lag_ns = start_ns - frame_ns;
        std::int64_t earliest = lag_ns;
        for (std::size_t i = 0; i < std::min(count_, kCallbacks); ++i)
            earliest = std::min(earliest, lags_ns_[i]);
        // A device that ran dry may have moved its pace (one that restarts does), so the lags
        // are gathered afresh.
        const bool ran_dry = count_ > 0 && lag_ns - earliest > dry_after_ns_;
        if (ran_dry) {
            count_ = 0;
            earliest = lag_ns;
        }
        lags_ns_[count_++ % kCallbacks] = lag_ns;
        return {frame_ns + earliest, ran_dry};
    }

    // Forgets the callbacks so far: the pace is gathered afresh from the next one.
    void restart() { count_ = 0; }

private:
    int rate_hz_;
    std::int64_t dry_after_ns_;
    // How long after its place in the stream each of the last callbacks came.
    std::array<std::int64_t, kCallbacks> lags_ns_{};
    std::size_t count_ = 0;
};

}  // namespace sound

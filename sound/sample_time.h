// Sample counts and nanoseconds at a given rate, converted the one way everything in sound/ uses.
#pragma once

#include <cstdint>

namespace sound {

inline constexpr std::int64_t kNsPerSecond = 1'000'000'000;

// Rounded down: the time at which sample `frames` begins.
constexpr std::int64_t framesToNs(std::int64_t frames, int rate_hz) {
    return frames * kNsPerSecond / rate_hz;
}

// Rounded down: the sample that is playing `ns` after sample 0 began.
constexpr std::int64_t nsToFrames(std::int64_t ns, int rate_hz) {
    return ns * rate_hz / kNsPerSecond;
}

}  // namespace sound

// The chip's timeline resampled as it goes, for live playback.
#include "sound/resampled_stream.h"

#include <algorithm>
#include <array>

namespace sound {

namespace {
// Room for several audio buffers, so a live stream never allocates once it runs.
constexpr std::size_t kInitialPending = 1 << 15;
}  // namespace

ResampledStream::ResampledStream(Emulator emulator, int rate_hz, Use use)
    : run_(emulator, rate_hz), resampler_(rate_hz, use), pending_(kInitialPending) {}

std::size_t ResampledStream::take(std::int16_t* out, std::size_t n) {
    n = pending_.take(out, n);
    taken_ += static_cast<std::int64_t>(n);
    return n;
}

void ResampledStream::skipTo(std::int64_t frame, WriteQueue& queue) {
    std::array<std::int16_t, 1024> scratch{};
    while (taken_ < frame) {
        if (pending() == 0)
            renderTo(run_.frame() + static_cast<std::int64_t>(scratch.size()), queue);
        take(scratch.data(), std::min(scratch.size(), static_cast<std::size_t>(frame - taken_)));
    }
}

}  // namespace sound

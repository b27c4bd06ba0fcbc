// The chip's timeline resampled as it goes, for live playback.
#include "sound/resampled_stream.h"

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

}  // namespace sound

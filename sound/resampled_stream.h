// The chip's timeline resampled to the output rate on one thread, for live playback.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "sound/chip_timeline.h"
#include "sound/resampler.h"
#include "sound/write_queue.h"

namespace sound {

// A chip run and its resampler on one thread, for live playback: output that the resampler can
// give is kept pending until taken. The resampler has to see some way past an output sample
// before it can give it, so frame() runs ahead of taken().
class ResampledStream {
public:
    using Use = Resampler::Use;
    ResampledStream(Emulator emulator, int rate_hz, Use use = Use::Render);

    int rateHz() const { return run_.rateHz(); }
    std::int64_t frame() const { return run_.frame(); }
    // Index of the next output sample take() gives.
    std::int64_t taken() const { return taken_; }
    std::size_t pending() const { return pending_.size(); }

    void renderTo(std::int64_t frame, WriteQueue& queue) { run_.renderTo(frame, queue, feed_); }
    // Moves up to n pending samples out; returns how many.
    std::size_t take(std::int16_t* out, std::size_t n);
    // Runs the chip on until taken() is `frame`, throwing its sound away: for the time a device
    // was gone. The writes stamped before it take effect on the way.
    void skipTo(std::int64_t frame, WriteQueue& queue);

private:
    // The core's samples go through a short scratch buffer into the resampler.
    class Feed final : public NativeSink {
    public:
        Feed(Resampler& resampler, SampleBuffer& out) : resampler_(resampler), out_(out) {}
        std::span<std::int16_t> room() override { return scratch_; }
        void wrote(std::size_t n) override { resampler_.process(scratch_.data(), n, out_); }

    private:
        Resampler& resampler_;
        SampleBuffer& out_;
        std::array<std::int16_t, 1024> scratch_{};
    };

    ChipTimeline run_;
    Resampler resampler_;
    SampleBuffer pending_;
    Feed feed_{resampler_, pending_};
    std::int64_t taken_ = 0;
};

}  // namespace sound

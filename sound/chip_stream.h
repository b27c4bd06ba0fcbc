// The emulated chip as a stream of output samples: writes land at the sample their stamp names.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "sound/opl_emulator.h"
#include "sound/resampler.h"
#include "sound/write_queue.h"

namespace sound {

// Where a chip run puts its samples. The core writes straight into the room it is given, so a
// render hands its samples on without a copy.
class NativeSink {
public:
    virtual ~NativeSink() = default;
    // Room for at least one sample.
    virtual std::span<std::int16_t> room() = 0;
    // The first n samples of the last room() now hold the chip's next output.
    virtual void wrote(std::size_t n) = 0;
};

// The core at its native rate, on the clock of the output rate: writes are applied between the
// native samples their stamps name. Its samples go to a sink at the native rate, unresampled.
class ChipRun {
public:
    ChipRun(Emulator emulator, int rate_hz);

    int rateHz() const { return rate_hz_; }
    // The chip's own time, in output samples: writes made now land here.
    std::int64_t frame() const { return frame_; }

    // Runs the chip up to `frame`. Each queued write stamped before it is applied at the native
    // sample its stamp names; one stamped in the past takes effect at once.
    void advanceTo(std::int64_t frame, WriteQueue& queue, NativeSink& sink);
    // The same, except that samples are made only as far as the queued writes need: the rest
    // comes with the next write or advanceTo(). The sound is the same. A render moves the
    // clock in 5 ms slices while the tune writes every 0.9 s, and the core is cheapest run
    // in long stretches.
    void moveTo(std::int64_t frame, WriteQueue& queue, NativeSink& sink);

private:
    std::int64_t nativeAt(std::int64_t frame) const;
    // Makes the samples up to output sample `frame`.
    void makeTo(std::int64_t frame, NativeSink& sink);

    int rate_hz_;
    std::unique_ptr<OplEmulator> core_;
    std::int64_t frame_ = 0;
    std::int64_t made_ = 0;    // samples are made up to here; never past frame_
    std::int64_t native_ = 0;  // the same, in native samples
};

// A chip run and its resampler on one thread, for live playback: output that the resampler can
// give is kept pending until taken. The resampler has to see some way past an output sample
// before it can give it, so frame() runs ahead of taken().
class ChipStream {
public:
    using Use = Resampler::Use;
    ChipStream(Emulator emulator, int rate_hz, Use use = Use::Render);

    int rateHz() const { return run_.rateHz(); }
    std::int64_t frame() const { return run_.frame(); }
    // Index of the next output sample take() gives.
    std::int64_t taken() const { return taken_; }
    std::size_t pending() const { return pending_.size(); }

    void advanceTo(std::int64_t frame, WriteQueue& queue) { run_.advanceTo(frame, queue, feed_); }
    // Moves up to n pending samples out; returns how many.
    std::size_t take(std::int16_t* out, std::size_t n);

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

    ChipRun run_;
    Resampler resampler_;
    SampleBuffer pending_;
    Feed feed_{resampler_, pending_};
    std::int64_t taken_ = 0;
};

}  // namespace sound

// The emulated chip on the output clock: each stamped write lands at the native sample its stamp
// names.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "sound/opl_core.h"
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
class ChipTimeline {
public:
    ChipTimeline(Emulator emulator, int rate_hz);

    int rateHz() const { return rate_hz_; }
    // The chip's own time, in output samples: writes made now land here.
    std::int64_t frame() const { return frame_; }

    // Runs the chip up to `frame`. Each queued write stamped before it is applied at the native
    // sample its stamp names; one stamped in the past takes effect at once.
    void renderTo(std::int64_t frame, WriteQueue& queue, NativeSink& sink);
    // The same, except that samples are made only as far as the queued writes need: the rest
    // comes with the next write or renderTo(). The sound is the same. A render moves the
    // clock in 5 ms slices while the tune writes every 0.9 s, and the core is cheapest run
    // in long stretches.
    void moveClockTo(std::int64_t frame, WriteQueue& queue, NativeSink& sink);

private:
    std::int64_t nativeAt(std::int64_t frame) const;
    // Makes the samples up to output sample `frame`.
    void synthesizeTo(std::int64_t frame, NativeSink& sink);

    int rate_hz_;
    std::unique_ptr<OplCore> core_;
    std::int64_t frame_ = 0;
    std::int64_t made_ = 0;    // samples are made up to here; never past frame_
    std::int64_t native_ = 0;  // the same, in native samples
};

}  // namespace sound

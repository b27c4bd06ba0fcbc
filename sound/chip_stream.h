// The emulated chip as a stream of output samples: writes land at the sample their stamp names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sound/opl_emulator.h"
#include "sound/write_queue.h"

struct soxr;

namespace sound {

// The core runs at its native rate and is resampled to the output rate. The resampler's own
// delay is taken out, so output sample k is the chip as it sounded at time k / rate_hz; but the
// resampler has to see some way past k before it can give k (see frame()).
class ChipStream {
public:
    // Live playback wants little held back; a render wants the fastest resampling.
    enum class Use { Render, Live };
    ChipStream(Emulator emulator, int rate_hz, Use use = Use::Render);
    ~ChipStream();
    ChipStream(const ChipStream&) = delete;
    ChipStream& operator=(const ChipStream&) = delete;

    int rateHz() const { return rate_hz_; }

    // The chip's own time, in output samples: it has been run up to here. Ahead of taken()
    // by the resampler's lookahead and whatever is pending.
    std::int64_t frame() const { return frame_; }
    // Index of the next output sample take() gives.
    std::int64_t taken() const { return taken_; }
    std::size_t pending() const { return pending_count_; }

    // Runs the chip up to `frame`. Each queued write stamped before it is applied at the native
    // sample its stamp names; one stamped in the past takes effect at once. Output that the
    // resampler can give is kept pending.
    void advanceTo(std::int64_t frame, WriteQueue& queue);
    // Moves up to n pending samples out; returns how many.
    std::size_t take(std::int16_t* out, std::size_t n);

private:
    std::int64_t nativeAt(std::int64_t frame) const;
    void generate(std::int64_t native_frames);
    void resample(const std::int16_t* in, std::size_t n);

    int rate_hz_;
    std::unique_ptr<OplEmulator> core_;
    soxr* resampler_ = nullptr;
    std::int64_t frame_ = 0;
    std::int64_t native_ = 0;
    std::int64_t taken_ = 0;
    std::vector<std::int16_t> scratch_;
    // Room for several audio buffers, so a live stream never allocates once it runs.
    std::vector<std::int16_t> pending_;
    std::size_t pending_count_ = 0;
};

}  // namespace sound

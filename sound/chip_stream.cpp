// Splits the chip's run at every write; live, resamples as it goes.
#include "sound/chip_stream.h"

#include <algorithm>

namespace sound {

namespace {
// Room for several audio buffers, so a live stream never allocates once it runs.
constexpr std::size_t kInitialPending = 1 << 15;
}  // namespace

ChipRun::ChipRun(Emulator emulator, int rate_hz)
    : rate_hz_(rate_hz), core_(makeOplEmulator(emulator)) {}

std::int64_t ChipRun::nativeAt(std::int64_t frame) const {
    return (frame * fm::opl2::kNativeRateHz + rate_hz_ / 2) / rate_hz_;
}

void ChipRun::moveTo(std::int64_t frame, WriteQueue& queue, NativeSink& sink) {
    StampedWrite write;
    while (queue.peek(write) && write.at_frame <= frame) {
        // A write stamped where the chip has already been takes effect where it stands.
        makeTo(std::max(write.at_frame, made_), sink);
        core_->write(write.reg, write.value);
        queue.pop();
    }
    frame_ = std::max(frame_, frame);
}

void ChipRun::advanceTo(std::int64_t frame, WriteQueue& queue, NativeSink& sink) {
    moveTo(frame, queue, sink);
    makeTo(frame_, sink);
}

void ChipRun::makeTo(std::int64_t frame, NativeSink& sink) {
    std::int64_t native_frames = nativeAt(frame) - native_;
    while (native_frames > 0) {
        const std::span<std::int16_t> room = sink.room();
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(native_frames, static_cast<std::int64_t>(room.size())));
        core_->generate(room.data(), n);
        sink.wrote(n);
        native_ += static_cast<std::int64_t>(n);
        native_frames -= static_cast<std::int64_t>(n);
    }
    made_ = std::max(made_, frame);
}

ChipStream::ChipStream(Emulator emulator, int rate_hz, Use use)
    : run_(emulator, rate_hz), resampler_(rate_hz, use), pending_(kInitialPending) {}

std::size_t ChipStream::take(std::int16_t* out, std::size_t n) {
    n = pending_.take(out, n);
    taken_ += static_cast<std::int64_t>(n);
    return n;
}

}  // namespace sound

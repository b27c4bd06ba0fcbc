// Splits the chip's run at every stamped write.
#include "sound/chip_timeline.h"

#include <algorithm>

namespace sound {

ChipTimeline::ChipTimeline(Emulator emulator, int rate_hz)
    : rate_hz_(rate_hz), core_(makeOplCore(emulator)) {}

std::int64_t ChipTimeline::nativeAt(std::int64_t frame) const {
    return (frame * fm::opl2::kNativeRateHz + rate_hz_ / 2) / rate_hz_;
}

void ChipTimeline::moveClockTo(std::int64_t frame, WriteQueue& queue, NativeSink& sink) {
    StampedWrite write;
    while (queue.peek(write) && write.at_frame <= frame) {
        // A write stamped where the chip has already been takes effect where it stands.
        synthesizeTo(std::max(write.at_frame, made_), sink);
        core_->write(write.reg, write.value);
        queue.pop();
    }
    frame_ = std::max(frame_, frame);
}

void ChipTimeline::renderTo(std::int64_t frame, WriteQueue& queue, NativeSink& sink) {
    moveClockTo(frame, queue, sink);
    synthesizeTo(frame_, sink);
}

void ChipTimeline::synthesizeTo(std::int64_t frame, NativeSink& sink) {
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

}  // namespace sound

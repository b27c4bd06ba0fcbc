// Splits the chip's run at every write, then resamples 49716 Hz to the output rate with libsoxr.
#include "sound/chip_stream.h"

#include <soxr.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace sound {

namespace {
constexpr std::size_t kNativeChunk = 1024;
// The most one resampler call may hand back: it releases whole blocks, a few hundred at a time.
constexpr std::size_t kOutputRoom = 4096;
constexpr std::size_t kInitialPending = 1 << 15;
// Live, smaller transform blocks than soxr's default: the same filter, but about 8 ms less held
// back, which live playback feels as latency. They cost a fifth more time, which a render keeps.
constexpr unsigned kLog2LargeDftSize = 10;
}  // namespace

ChipStream::ChipStream(Emulator emulator, int rate_hz, Use use)
    : rate_hz_(rate_hz),
      core_(makeOplEmulator(emulator)),
      scratch_(kNativeChunk),
      pending_(kInitialPending) {
    soxr_error_t error = nullptr;
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    io.flags |= SOXR_NO_DITHER;  // same input, same bytes
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    if (use == Use::Live) runtime.log2_large_dft_size = kLog2LargeDftSize;
    resampler_ = soxr_create(fm::opl2::kNativeRateHz, rate_hz, 1, &error, &io, &quality, &runtime);
    if (error != nullptr) throw std::runtime_error(std::string("resampler: ") + error);
}

ChipStream::~ChipStream() { soxr_delete(resampler_); }

std::int64_t ChipStream::nativeAt(std::int64_t frame) const {
    return (frame * fm::opl2::kNativeRateHz + rate_hz_ / 2) / rate_hz_;
}

void ChipStream::advanceTo(std::int64_t frame, WriteQueue& queue) {
    while (frame_ < frame) {
        std::int64_t stop = frame;
        StampedWrite write;
        if (queue.peek(write)) {
            if (write.at_frame <= frame_) {
                core_->write(write.reg, write.value);
                queue.pop();
                continue;
            }
            stop = std::min(stop, write.at_frame);
        }
        generate(nativeAt(stop) - native_);
        frame_ = stop;
    }
}

void ChipStream::generate(std::int64_t native_frames) {
    while (native_frames > 0) {
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(native_frames, static_cast<std::int64_t>(kNativeChunk)));
        core_->generate(scratch_.data(), n);
        resample(scratch_.data(), n);
        native_ += static_cast<std::int64_t>(n);
        native_frames -= static_cast<std::int64_t>(n);
    }
}

void ChipStream::resample(const std::int16_t* in, std::size_t n) {
    for (;;) {
        // Only a render ever lets this grow; live playback takes samples out as it goes.
        if (pending_.size() - pending_count_ < kOutputRoom) pending_.resize(pending_.size() * 2);
        const std::size_t room = pending_.size() - pending_count_;
        std::size_t in_done = 0;
        std::size_t out_done = 0;
        soxr_error_t error = soxr_process(resampler_, in, n, &in_done,
                                          pending_.data() + pending_count_, room, &out_done);
        if (error != nullptr) throw std::runtime_error(std::string("resampler: ") + error);
        pending_count_ += out_done;
        in += in_done;
        n -= in_done;
        // A full output buffer may leave more behind in the resampler: ask again.
        if (n == 0 && out_done < room) return;
    }
}

std::size_t ChipStream::take(std::int16_t* out, std::size_t n) {
    n = std::min(n, pending_count_);
    if (n == 0) return 0;
    std::memcpy(out, pending_.data(), n * sizeof(std::int16_t));
    std::memmove(pending_.data(), pending_.data() + n, (pending_count_ - n) * sizeof(std::int16_t));
    pending_count_ -= n;
    taken_ += static_cast<std::int64_t>(n);
    return n;
}

}  // namespace sound

// libsoxr set up for repeatable output; bypassed where the rates are equal.
#include "sound/resampler.h"

#include <soxr.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "fm/opl2.h"

namespace sound {

namespace {
// The most one resampler call may hand back: it releases whole blocks, a few hundred at a time.
constexpr std::size_t kOutputRoom = 4096;
// Live, whatever the resampler holds back is heard as latency, and soxr's high quality holds
// back 8 ms even in its smallest transform blocks. A 16-bit filter (what the output keeps) flat
// to 80% of the lower Nyquist frequency, 19.2 kHz at 48 kHz, in small blocks holds back 2 ms and
// costs no more. A render keeps the high quality and soxr's default blocks.
constexpr double kLivePassbandEnd = 0.8;
constexpr unsigned kLiveLog2DftSize = 8;
}  // namespace

std::int16_t* SampleBuffer::room(std::size_t n) {
    if (data_.size() - size_ < n) data_.resize(std::max(size_ + n, 2 * data_.size()));
    return data_.data() + size_;
}

std::size_t SampleBuffer::take(std::int16_t* out, std::size_t n) {
    n = std::min(n, size_);
    if (n == 0) return 0;
    std::memcpy(out, data_.data(), n * sizeof(std::int16_t));
    std::memmove(data_.data(), data_.data() + n, (size_ - n) * sizeof(std::int16_t));
    size_ -= n;
    return n;
}

Resampler::Resampler(int rate_hz, Use use) : rate_hz_(rate_hz) {
    // The chip's own samples need no filter, and none is better than soxr's at ratio 1.
    if (rate_hz == fm::opl2::kNativeRateHz) return;
    soxr_error_t error = nullptr;
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    io.flags |= SOXR_NO_DITHER;  // same input, same bytes
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    if (use == Use::Live) {
        quality = soxr_quality_spec(SOXR_16_BITQ, 0);
        quality.passband_end = kLivePassbandEnd;
        runtime.log2_min_dft_size = kLiveLog2DftSize;
        runtime.log2_large_dft_size = kLiveLog2DftSize;
    }
    soxr_ = soxr_create(fm::opl2::kNativeRateHz, rate_hz, 1, &error, &io, &quality, &runtime);
    if (error != nullptr) throw std::runtime_error(std::string("resampler: ") + error);
}

Resampler::~Resampler() { soxr_delete(soxr_); }

void Resampler::process(const std::int16_t* in, std::size_t n, SampleBuffer& out) {
    if (soxr_ == nullptr) {
        std::memcpy(out.room(n), in, n * sizeof(std::int16_t));
        out.added(n);
        return;
    }
    for (;;) {
        const std::size_t room = std::max(out.roomSize(), kOutputRoom);
        std::int16_t* to = out.room(room);
        std::size_t in_done = 0;
        std::size_t out_done = 0;
        soxr_error_t error = soxr_process(soxr_, in, n, &in_done, to, room, &out_done);
        if (error != nullptr) throw std::runtime_error(std::string("resampler: ") + error);
        out.added(out_done);
        in += in_done;
        n -= in_done;
        // A full output buffer may leave more behind in the resampler: ask again.
        if (n == 0 && out_done < room) return;
    }
}

}  // namespace sound

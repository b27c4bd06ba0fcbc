// The chip's 49,716 Hz to the output rate with libsoxr; at the chip's own rate, a straight copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct soxr;

namespace sound {

// Samples made but not yet handed on. Grows as it must and never shrinks, so a stream that
// takes samples out as it goes never allocates once it runs.
class SampleBuffer {
public:
    explicit SampleBuffer(std::size_t capacity = 0) : data_(capacity) {}

    std::size_t size() const { return size_; }
    const std::int16_t* data() const { return data_.data(); }
    // Room for at least n more samples past size(); added() says how many were put there.
    std::int16_t* room(std::size_t n);
    std::size_t roomSize() const { return data_.size() - size_; }
    void added(std::size_t n) { size_ += n; }
    // Moves up to n samples out of the front; returns how many.
    std::size_t take(std::int16_t* out, std::size_t n);
    void clear() { size_ = 0; }

private:
    std::vector<std::int16_t> data_;
    std::size_t size_ = 0;
};

// Output sample k is the chip as it sounded at time k / rate_hz: the resampler's own delay is
// taken out. To give k it has to see some way past it, so output lags input.
class Resampler {
public:
    // Live playback wants little held back; a render wants the fastest resampling.
    enum class Use { Render, Live };
    Resampler(int rate_hz, Use use);
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    int rateHz() const { return rate_hz_; }
    // Takes n native samples; appends to `out` whatever output they make ready.
    void process(const std::int16_t* in, std::size_t n, SampleBuffer& out);

private:
    int rate_hz_;
    soxr* soxr_ = nullptr;  // none at the chip's own rate
};

}  // namespace sound

// A track's loudness and peak as EBU R128 measures them (libebur128), for ReplayGain tags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sound {

class Loudness {
public:
    struct Result {
        double integrated_lufs;
        double true_peak;  // linear: 1.0 is full scale
    };

    // Raises std::runtime_error if libebur128 cannot start (out of memory).
    explicit Loudness(int rate_hz);
    ~Loudness();
    Loudness(const Loudness&) = delete;
    Loudness& operator=(const Loudness&) = delete;

    void add(const std::int16_t* samples, std::size_t count);
    // Nothing for a track too short or too quiet to have a loudness.
    std::optional<Result> result() const;

private:
    struct Meter;  // libebur128's state, whose type has no name to declare here
    std::unique_ptr<Meter> meter_;
};

// The Vorbis comments that carry a track's gain, for FLAC and Ogg Vorbis: ReplayGain 2.0, which
// levels every track to -18 LUFS, and for Opus R128_TRACK_GAIN, which levels to -23 LUFS as RFC
// 7845 asks (Opus has no peak tag). loudgain writes the same.
std::vector<std::string> replayGainComments(const Loudness::Result& loudness, bool opus);

}  // namespace sound

// The gain a player applies is the reference level less the track's integrated loudness.
#include "sound/loudness.h"

#ifdef VESK_HAVE_LOUDNESS_TAGS
#include <ebur128.h>
#endif

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace sound {

namespace {
constexpr double kReplayGainReferenceLufs = -18.0;  // ReplayGain 2.0
constexpr double kOpusReferenceLufs = -23.0;        // EBU R128, as RFC 7845 (5.2.1) asks
constexpr double kQ78 = 256.0;                      // R128 gains are Q7.8 fixed point

// Whatever the C locale's decimal point, tags always use '.'.
std::string fixed(double value, int decimals) {
    char text[32];
    const auto end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr;
    return std::string(text, end);
}

}  // namespace

#ifdef VESK_HAVE_LOUDNESS_TAGS

struct Loudness::Meter {
    ebur128_state* state;
    ~Meter() {
        if (state != nullptr) ebur128_destroy(&state);
    }
};

Loudness::Loudness(int rate_hz)
    : meter_(new Meter{ebur128_init(1, static_cast<unsigned long>(rate_hz),
                                    EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK)}) {
    if (meter_->state == nullptr)
        throw std::runtime_error("cannot measure loudness: out of memory");
}

Loudness::~Loudness() = default;

void Loudness::add(const std::int16_t* samples, std::size_t count) {
    ebur128_add_frames_short(meter_->state, samples, count);
}

std::optional<Loudness::Result> Loudness::result() const {
    double lufs = 0.0;
    double peak = 0.0;
    if (ebur128_loudness_global(meter_->state, &lufs) != EBUR128_SUCCESS || !std::isfinite(lufs))
        return std::nullopt;
    if (ebur128_true_peak(meter_->state, 0, &peak) != EBUR128_SUCCESS) return std::nullopt;
    return Result{lufs, peak};
}

#else

// Without libebur128 the formats that need it are not built in (renderFormatBuiltIn), so none
// of this is reached.
struct Loudness::Meter {};
Loudness::Loudness(int) { throw std::runtime_error("this build cannot measure loudness"); }
Loudness::~Loudness() = default;
void Loudness::add(const std::int16_t*, std::size_t) {}
std::optional<Loudness::Result> Loudness::result() const { return std::nullopt; }

#endif

std::vector<std::string> replayGainComments(const Loudness::Result& loudness, bool opus) {
    if (opus) {
        const double q78 = std::round((kOpusReferenceLufs - loudness.integrated_lufs) * kQ78);
        return {"R128_TRACK_GAIN=" + fixed(std::clamp(q78, -32768.0, 32767.0), 0)};
    }
    return {"REPLAYGAIN_TRACK_GAIN=" +
                fixed(kReplayGainReferenceLufs - loudness.integrated_lufs, 2) + " dB",
            "REPLAYGAIN_TRACK_PEAK=" + fixed(loudness.true_peak, 6)};
}

}  // namespace sound

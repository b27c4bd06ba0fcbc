// Holds the player back while register writes pile up in the emulated chip faster than it
// takes them in.
#pragma once

#include <algorithm>
#include <cstdint>

#include "fm/opl2.h"
#include "sound/opl_core.h"
#include "sound/sample_time.h"

namespace sound {

// A real card paces a program by itself: after each write it reads the status port 35 times,
// which takes as long as the chip needs. The emulated port answers at once, so start-up's burst
// of writes (fm::kStartUpWrites) reaches the chip within microseconds. The Nuked core then applies
// them a few samples apart, and the first note, stamped right behind them, comes about 12 ms late.
// The pacer tells the player how long to wait until the pile is gone, as the status reads would.
class IntakeThrottle {
public:
    // A pile up to this long is left alone: a step's six writes make one of about 0.25 ms.
    static constexpr std::int64_t kMaxPileNs = 1'000'000;

    IntakeThrottle(Emulator emulator, int rate_hz)
        : spacing_(writeSpacingNativeSamples(emulator)), rate_hz_(rate_hz) {}

    // A write stamped at output sample `stamp` was made; returns how long, in ns, the player
    // should wait before its next write (0 unless the pile has grown past kMaxPileNs).
    std::int64_t afterWrite(std::int64_t stamp) {
        if (spacing_ == 0) return 0;
        const std::int64_t at = stamp * fm::opl2::kNativeRateHz / rate_hz_;
        // A stamp behind the one before: the device's clock was set anew (a stream whose
        // server began playing late). The pile was counted on the old clock.
        if (at < last_at_) free_at_ = at;
        last_at_ = at;
        free_at_ = std::max(free_at_, at) + spacing_;
        const std::int64_t pile_ns = framesToNs(free_at_ - at, fm::opl2::kNativeRateHz);
        return pile_ns > kMaxPileNs ? pile_ns : 0;
    }

private:
    int spacing_;  // native samples per write
    int rate_hz_;
    std::int64_t free_at_ = 0;  // the native sample at which the core has taken every write in
    std::int64_t last_at_ = 0;  // the last write's stamp, in native samples
};

}  // namespace sound

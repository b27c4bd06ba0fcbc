// The whole tune's register writes through any port, on a fake clock: start-up and the 74 steps.
#pragma once

#include <vector>

#include "chip_fakes.h"
#include "fm/blaster.h"
#include "fm/opl2.h"
#include "playback/player.h"
#include "song/song.h"

namespace fakes {

// Forwards every access to `next` and keeps the register writes that pass.
class WriteTap final : public fm::PortIo {
public:
    explicit WriteTap(fm::PortIo& next) : next_(next) {}
    void out(std::uint16_t port, std::int16_t value) override {
        next_.out(port, value);
        if (const auto write = decoder_.out(port, value)) {
            writes.push_back(*write);
            if (on_write) on_write();
        }
    }
    std::uint8_t in(std::uint16_t port) override { return next_.in(port); }

    std::vector<fm::opl2::RegisterWrite> writes;
    std::function<void()> on_write;  // after each register write has gone on

private:
    fm::PortIo& next_;
    fm::opl2::PortDecoder decoder_;
};

// Start-up, then one playback of the whole tune.
inline void playTune(fm::PortIo& port) {
    song::Song song;
    song.MakeMusic();
    fm::Blaster blaster(port);
    blaster.Blasterresetcard();
    blaster.BlasterInit();
    FakeClock clock;
    ScriptedPump pump(clock);
    playback::TimedWait wait(clock, pump);
    playback::Player player(song, blaster, wait);
    player.PlayOn_Click();
}

}  // namespace fakes

// Writes made faster than the chip takes them in: the first note after start-up's burst.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fm/blaster.h"
#include "sound/intake_throttle.h"
#include "sound/resampled_stream.h"
#include "sound/stamping_port.h"
#include "sound/write_queue.h"

namespace {

using common::Int16;
constexpr int kRateHz = 48000;

// Start-up (reset, five voices) then one key-on, with the player's clock in output samples. The
// writes take no time of their own, as through the emulated port; with a pacer, the player
// waits as long as it is told after each write. Returns how late the note sounds after its
// stamp, in output samples.
std::int64_t firstNoteLateness(sound::Emulator emulator, bool paced) {
    sound::WriteQueue queue;
    sound::IntakeThrottle pacer(emulator, kRateHz);
    std::int64_t now = 4800;  // the chip has run a while; start-up begins here
    std::int64_t key_on_stamp = -1;
    sound::StampingPort port(queue, [&] {
        const std::int64_t stamp = now;
        if (paced) now += pacer.afterWrite(stamp) * kRateHz / 1'000'000'000;
        return stamp;
    });
    fm::Blaster blaster(port);
    blaster.Blasterresetcard();
    blaster.BlasterInit();
    blaster.Blasterwritereg(Int16{0xA0}, Int16{0x87});  // voice 1: B3
    key_on_stamp = now;
    blaster.Blasterwritereg(Int16{0xB0}, Int16{0x2E});

    sound::ResampledStream stream(emulator, kRateHz);
    stream.renderTo(key_on_stamp + kRateHz / 10, queue);
    std::vector<std::int16_t> out(static_cast<std::size_t>(stream.pending()));
    stream.take(out.data(), out.size());
    for (std::size_t i = 0; i < out.size(); ++i)
        if (std::abs(out[i]) >= 200) return static_cast<std::int64_t>(i) - key_on_stamp;
    return kRateHz;  // never sounded
}

TEST(WritePacing, BurstOfStartUpWritesHoldsBackTheNextNoteInNuked) {
    // The fact the pacer stands on: unpaced, Nuked applies the 292 writes of start-up a few
    // samples apart, and the key-on behind them sounds more than 10 ms late.
    EXPECT_GT(firstNoteLateness(sound::Emulator::Nuked, false), kRateHz / 100);
}

TEST(WritePacing, PacedStartUpLetsTheFirstNoteSoundOnTime) {
    for (sound::Emulator emulator :
         {sound::Emulator::Nuked, sound::Emulator::Mame, sound::Emulator::Dosbox}) {
        const std::int64_t late = firstNoteLateness(emulator, true);
        EXPECT_GE(late, 0) << sound::emulatorName(emulator);
        // Within the pile the pacer leaves, and a little attack.
        EXPECT_LE(late, kRateHz / 1000 + 16) << sound::emulatorName(emulator);
    }
}

TEST(WritePacing, OnlyABurstIsHeldBack) {
    // A step's writes, or writes spaced wider than the core takes them, never wait; nor does a
    // core that applies writes at once.
    struct Case {
        sound::Emulator emulator;
        int writes;
        std::int64_t spacing_frames;
        bool held;
    };
    const Case cases[] = {
        {sound::Emulator::Nuked, 6, 0, false},    // one step: key-offs and two notes
        {sound::Emulator::Nuked, 292, 2, false},  // start-up spread out as a real bus would
        {sound::Emulator::Nuked, 292, 0, true},   // start-up in one burst
        {sound::Emulator::Mame, 292, 0, false},  {sound::Emulator::Dosbox, 292, 0, false},
    };
    for (const Case& c : cases) {
        sound::IntakeThrottle pacer(c.emulator, kRateHz);
        bool held = false;
        for (int i = 0; i < c.writes; ++i)
            held |= pacer.afterWrite(1000 + i * c.spacing_frames) > 0;
        EXPECT_EQ(held, c.held) << sound::emulatorName(c.emulator) << ", " << c.writes << " writes";
    }
}

TEST(WritePacing, AClockSetBackHoldsNothing) {
    // Writes stamped a second ahead on a guessed clock, then the device's first part comes and
    // sets it back: the next write is not held for the second the old clock ran ahead.
    sound::IntakeThrottle pacer(sound::Emulator::Nuked, kRateHz);
    for (int i = 0; i < 292; ++i) EXPECT_EQ(pacer.afterWrite(kRateHz + i * 2), 0);
    EXPECT_EQ(pacer.afterWrite(600), 0);
    EXPECT_EQ(pacer.afterWrite(600), 0);
}

}  // namespace

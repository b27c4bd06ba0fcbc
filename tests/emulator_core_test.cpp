// Each emulator core, played one step through the program's own driver and player.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "fm/blaster.h"
#include "playback/player.h"
#include "song/song.h"
#include "sound/resampled_stream.h"
#include "sound/stamping_port.h"
#include "sound_test_support.h"

namespace {

using common::Int16;
constexpr int kRateHz = 48000;

// A chip after start-up, on a clock that moves only as the chip renders.
class OneStep : public playback::Clock, public playback::EventPump {
public:
    explicit OneStep(sound::Emulator emulator)
        : stream_(emulator, kRateHz),
          port_(queue_, [this] { return stream_.frame(); }),
          blaster_(port_) {
        blaster_.Blasterresetcard();
        blaster_.BlasterInit();
        processEvents(0.05);  // let the start-up writes settle
        sound_.clear();
    }

    // One step of the player; returns the first 0.9 s of it.
    std::vector<std::int16_t> play(int block1, int fnumber1, int block2, int fnumber2) {
        const std::int64_t from = stream_.frame();
        playback::TimedWait wait(*this, *this);
        playback::Player player(song_, blaster_, wait);
        player.Blasterplay(Int16{1}, Int16{block1}, Int16{fnumber1}, Int16{2}, Int16{block2},
                           Int16{fnumber2}, 2.0);
        const auto first = static_cast<std::size_t>(from - start_);
        processEvents(0.05);  // the resampler hands over the step's last samples
        return {sound_.begin() + static_cast<std::ptrdiff_t>(first),
                sound_.begin() + static_cast<std::ptrdiff_t>(first + kRateHz * 9 / 10)};
    }

    float secondsSinceMidnight() override {
        return static_cast<float>(static_cast<double>(stream_.frame()) / kRateHz);
    }
    void processEvents(double max_block_s) override {
        stream_.renderTo(stream_.frame() + std::llround(std::ceil(max_block_s * kRateHz)), queue_);
        if (sound_.empty()) start_ = stream_.taken();
        std::vector<std::int16_t> out(stream_.pending());
        sound_.insert(
            sound_.end(), out.begin(),
            out.begin() + static_cast<std::ptrdiff_t>(stream_.take(out.data(), out.size())));
    }

private:
    sound::ResampledStream stream_;
    sound::WriteQueue queue_;
    sound::StampingPort port_;
    fm::Blaster blaster_;
    song::Song song_;
    std::vector<std::int16_t> sound_;
    std::int64_t start_ = 0;  // the output sample sound_ begins with
};

int peakOf(const std::vector<std::int16_t>& x) {
    int peak = 0;
    for (auto v : x) peak = std::max(peak, std::abs(static_cast<int>(v)));
    return peak;
}

class EmulatorCore : public testing::TestWithParam<sound::Emulator> {};

TEST_P(EmulatorCore, StepOneIsNeitherSilentNorClipped) {
    OneStep chip(GetParam());
    const auto sound = chip.play(3, 647, 2, 514);  // B and G, the tune's first step
    const int peak = peakOf(sound);
    EXPECT_GT(peak, 1000);
    EXPECT_LT(peak, 32767);
}

TEST_P(EmulatorCore, StepOneSoundsAtItsFNumberAndBlock) {
    OneStep chip(GetParam());
    const auto sound = chip.play(3, 647, 2, 514);
    // F-number 647 in block 3: 647 x 49716 / 2^17 Hz.
    const double expected_hz = 245.41;
    ASSERT_NEAR(sound_test::chipHz(647, 3), expected_hz, 0.01);
    // Past the attack; half an octave either way would show a wrong block or F-number.
    const std::size_t skip = kRateHz / 20;
    const sound_test::Spectrum spectrum(sound.data() + skip, sound.size() - skip, kRateHz);
    const double cents = spectrum.peakCents(expected_hz, 600);
    EXPECT_LT(std::abs(cents), 5.0) << "peak at " << cents << " cents";
}

TEST_P(EmulatorCore, RestStepIsSilent) {
    // A rest keys the voice on at F-number 0: the phase never moves, so nothing sounds. Nuked
    // holds the sine's value at phase 0, a small constant offset, which is silence too.
    OneStep chip(GetParam());
    const auto sound = chip.play(3, 0, 3, 0);
    const auto held = std::vector<std::int16_t>(sound.begin() + kRateHz / 50, sound.end());
    const auto [low, high] = std::minmax_element(held.begin(), held.end());
    EXPECT_LE(*high - *low, 2);
    EXPECT_LE(peakOf(held), 100);
}

// Where `piece` best matches `sound` near `at`: the offset in samples, within +-reach, with the
// highest normalised correlation.
int bestOffset(const std::vector<std::int16_t>& sound, std::int64_t at,
               const std::vector<std::int16_t>& piece, int reach) {
    int best = 0;
    double best_score = -2.0;
    for (int d = -reach; d <= reach; ++d) {
        double dot = 0, a2 = 0, b2 = 0;
        for (std::size_t i = 0; i < piece.size(); ++i) {
            const std::int64_t k = at + d + static_cast<std::int64_t>(i);
            const double a = k >= 0 && k < static_cast<std::int64_t>(sound.size())
                                 ? sound[static_cast<std::size_t>(k)]
                                 : 0.0;
            dot += a * piece[i];
            a2 += a * a;
            b2 += static_cast<double>(piece[i]) * piece[i];
        }
        const double score = a2 > 0 && b2 > 0 ? dot / std::sqrt(a2 * b2) : -1.0;
        if (score > best_score) {
            best_score = score;
            best = d;
        }
    }
    return best;
}

TEST_P(EmulatorCore, EveryStepOfARenderSoundsAtItsStampedSample) {
    // Given the whole tune rendered, and each step's notes played alone on a fresh chip,
    const sound_test::Rendered r = sound_test::renderSong(
        GetParam(), kRateHz, std::string("onset-") + sound::emulatorName(GetParam()) + ".wav");
    sound_test::WavInfo info;
    const auto wav = sound_test::readWav(r.path, info);
    ASSERT_EQ(r.key_ons.size(), 2u * song::kSteps);
    song::Song tune;
    tune.MakeMusic();
    // Past the first 1 ms: the old note lingers a few samples in the core and the resampler.
    const std::size_t skip = kRateHz / 1000;
    const std::size_t length = kRateHz / 100;
    for (int step = 1; step <= song::kSteps; ++step) {
        const Int16 i{step};
        if (tune.FNumber1[i] == Int16{0} && tune.FNumber2[i] == Int16{0}) continue;  // silence
        OneStep alone(GetParam());
        const auto reference = alone.play(tune.Octave1[i].value(), tune.FNumber1[i].value(),
                                          tune.Octave2[i].value(), tune.FNumber2[i].value());
        const std::vector<std::int16_t> piece(
            reference.begin() + static_cast<std::ptrdiff_t>(skip),
            reference.begin() + static_cast<std::ptrdiff_t>(skip + length));
        const auto stamped =
            std::llround(r.key_ons[2 * static_cast<std::size_t>(step - 1)].at_s * kRateHz) -
            r.start_frame;
        // then the step sounds in the render where its key-on was stamped, to a few samples.
        EXPECT_LE(std::abs(bestOffset(wav, stamped + static_cast<std::int64_t>(skip), piece, 40)),
                  10)
            << "step " << step;
    }
}

INSTANTIATE_TEST_SUITE_P(AllCores, EmulatorCore,
                         testing::Values(sound::Emulator::Nuked, sound::Emulator::Mame,
                                         sound::Emulator::Dosbox),
                         [](const auto& core) { return sound::emulatorName(core.param); });

}  // namespace

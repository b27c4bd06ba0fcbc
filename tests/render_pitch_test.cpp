// Every step of the rendered tune sounds at the pitch its registers ask for.
#include <gtest/gtest.h>

#include <cmath>

#include "song/song.h"
#include "sound_test_support.h"

namespace {

TEST(RenderPitch, EveryStepOfBothVoicesWithinFiveCents) {
    const auto& r = sound_test::defaultRender();
    sound_test::WavInfo info;
    const auto wav = sound_test::readWav(r.path, info);
    const auto steps = sound_test::expectedStepFrames(r.rate_hz, r.start_frame);
    song::Song song;
    song.MakeMusic();
    // Past the attack and most of the last note's release; the window is long enough to tell
    // notes a few cents apart.
    const std::size_t skip = static_cast<std::size_t>(r.rate_hz / 10);
    const std::size_t length = static_cast<std::size_t>(r.rate_hz) / 2;
    std::size_t at = 0;
    int notes = 0;
    for (int step = 1; step <= song::kSteps; ++step) {
        const common::Int16 i{step};
        const sound_test::Spectrum spectrum(wav.data() + at + skip, length, r.rate_hz);
        for (auto [fnumber, block] : {std::pair{song.FNumber1[i], song.Octave1[i]},
                                      std::pair{song.FNumber2[i], song.Octave2[i]}}) {
            if (fnumber.value() == 0) continue;  // a rest
            const double hz = sound_test::chipHz(fnumber.value(), block.value());
            // More than a semitone either way, so a wrong note shows; the two voices are
            // always further apart than that.
            const double cents = spectrum.peakCents(hz, 150);
            EXPECT_LT(std::abs(cents), 5.0) << "step " << step << " at " << hz << " Hz";
            // And the note is really there, not just the loudest leakage nearby. The lower
            // voice's loud modulator puts most of its energy in harmonics: its fundamental
            // is about 35 of 32768.
            EXPECT_GT(spectrum.amplitude(hz), 16) << "step " << step << " at " << hz << " Hz";
            ++notes;
        }
        at += static_cast<std::size_t>(steps[static_cast<std::size_t>(step - 1)]);
    }
    EXPECT_EQ(notes, 2 * 74 - 2 * 3);  // both voices rest together, three times
}

}  // namespace

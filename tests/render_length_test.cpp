// How long a render is, and where each step begins in it.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "sound_test_support.h"

namespace {

TEST(RenderLength, SeventyFourStepsPlusTheTailExactToTheSample) {
    const auto& r = sound_test::defaultRender();
    const auto steps = sound_test::expectedStepFrames(r.rate_hz, r.start_frame);
    const std::int64_t tail = static_cast<std::int64_t>(std::ceil(0.5 * r.rate_hz));
    sound_test::WavInfo info;
    sound_test::readWav(r.path, info);
    EXPECT_EQ(info.frames, std::accumulate(steps.begin(), steps.end(), tail));
}

TEST(RenderLength, EachStepKeysOnAtItsFirstSample) {
    // Step 1's key-on is at the WAV's sample 0; each later one follows the one before by
    // exactly that step's length, as the register writes' own time stamps show.
    const auto& r = sound_test::defaultRender();
    const auto steps = sound_test::expectedStepFrames(r.rate_hz, r.start_frame);
    ASSERT_EQ(r.key_ons.size(), 2u * steps.size());
    std::int64_t at = r.start_frame;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        // Compared in samples: a 32-bit x86 build divides in the FPU's wider format, and its
        // seconds may differ from a double's in the last bit.
        for (const auto& key_on : {r.key_ons[2 * i], r.key_ons[2 * i + 1]})
            EXPECT_EQ(std::llround(key_on.at_s * r.rate_hz), at) << "step " << i + 1;
        at += steps[i];
    }
}

}  // namespace

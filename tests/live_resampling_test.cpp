// Live playback resamples with a shorter filter than a render, to hold less back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "sound/resampled_stream.h"
#include "sound/write_queue.h"

namespace {

// One held note on voice 1, through a stream of the given use, for a second.
std::vector<std::int16_t> note(int rate_hz, sound::ResampledStream::Use use) {
    sound::ResampledStream stream(sound::Emulator::Nuked, rate_hz, use);
    sound::WriteQueue queue;
    // Both operators audible and sustained, then B3 keyed on.
    const std::uint8_t writes[][2] = {{0x20, 0x01}, {0x40, 0x10}, {0x60, 0xF0}, {0x80, 0x77},
                                      {0x23, 0x01}, {0x43, 0x00}, {0x63, 0xF0}, {0x83, 0x77},
                                      {0xA0, 0x87}, {0xB0, 0x2E}};
    for (const auto& w : writes) queue.push({1000, w[0], w[1]});
    stream.renderTo(rate_hz, queue);
    std::vector<std::int16_t> out(stream.pending());
    stream.take(out.data(), out.size());
    return out;
}

TEST(LiveResampling, SoundsLikeTheRenderAtEveryCommonRate) {
    // The live filter gives up only the top of the band (above 80% of the lower Nyquist
    // frequency) and 20-bit precision for 16; what is left differs from the render's far below
    // anything a 16-bit output can show. In time, too: a shift of one sample would not pass.
    for (int rate_hz : {44100, 48000, 96000}) {
        const auto render = note(rate_hz, sound::ResampledStream::Use::Render);
        const auto live = note(rate_hz, sound::ResampledStream::Use::Live);
        // Each resampler has handed out what its blocks allow; compare what both have.
        const std::size_t n = std::min(render.size(), live.size());
        ASSERT_GT(n, static_cast<std::size_t>(rate_hz / 2));
        double signal = 0, difference = 0;
        for (std::size_t i = 0; i < n; ++i) {
            signal += double(render[i]) * render[i];
            difference += (double(render[i]) - live[i]) * (double(render[i]) - live[i]);
        }
        ASSERT_GT(signal, 0.0);
        EXPECT_GT(10 * std::log10(signal / difference), 50.0) << rate_hz << " Hz";
    }
}

}  // namespace

// The rendered file: its header, and nothing left behind when it cannot be written.
#include <gtest/gtest.h>

#include <csignal>
#include <numeric>
#include <stdexcept>
#include <string>

#include "app/render/render_front_end.h"
#include "sound/wav_file.h"
#include "sound_test_support.h"

namespace {

TEST(WavOutput, HeaderReadsBackAsSixteenBitMonoAtTheRate) {
    const auto& r = sound_test::defaultRender();
    sound_test::WavInfo info;
    const auto samples = sound_test::readWav(r.path, info);
    EXPECT_EQ(info.format, 1);  // integer PCM
    EXPECT_EQ(info.bits, 16);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.samplerate, 48000);
    EXPECT_EQ(static_cast<std::int64_t>(samples.size()), info.frames);
}

TEST(WavOutput, OtherRatesAreHonoured) {
    const auto r = sound_test::renderSong(sound::Emulator::Dosbox, 22050, "rate.wav");
    sound_test::WavInfo info;
    sound_test::readWav(r.path, info);
    EXPECT_EQ(info.samplerate, 22050);
    // The same song: step lengths at 22050 Hz, plus half a second.
    const auto steps = sound_test::expectedStepFrames(22050, r.start_frame);
    EXPECT_EQ(info.frames, std::accumulate(steps.begin(), steps.end(), std::int64_t{11025}));
}

TEST(WavOutput, UnwritablePlaceIsOneLineNamingFileAndReason) {
    try {
        sound::WavFile wav("/nonexistent-dir/out.wav", 48000);
        FAIL() << "opened a file in a directory that does not exist";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "cannot write /nonexistent-dir/out.wav: No such file or directory");
    }
}

TEST(WavOutput, UnfinishedFileLeavesNothingBehind) {
    const auto dir = sound_test::scratchDir() / "unfinished";
    std::filesystem::create_directories(dir);
    {
        sound::WavFile wav(dir / "half.wav", 48000);
        const std::int16_t samples[4] = {1, 2, 3, 4};
        wav.write(samples, 4);
    }  // a render that failed before commit()
    EXPECT_TRUE(std::filesystem::is_empty(dir));
}

TEST(WavOutput, InterruptedRenderLeavesNothingAndEndsWithTheSignal) {
    // Given a render under way, when Ctrl-C arrives during step 3
    const auto dir = sound_test::scratchDir() / "interrupted";
    std::filesystem::create_directories(dir);
    auto chip = sound::ChipSession::forRender(sound::Emulator::Dosbox, 48000);
    auto port = chip->makePort();
    int pumps = 0;
    struct Ended {
        int status;
    };
    app::RenderFrontEnd render(
        *port, *chip, dir / "song.wav", nullptr, [](int status) { throw Ended{status}; },
        [&pumps] { return ++pumps > 400 ? SIGINT : 0; });
    try {
        render.render();
        FAIL() << "the render ran to the end";
    } catch (const Ended& e) {
        // Then the program ends as Ctrl-C ends it, and no file or temporary is left
        EXPECT_EQ(e.status, 128 + SIGINT);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir));
}

}  // namespace

// The render's two threads: samples pass between them whole and in order, the chip never runs
// more than the queue ahead, a failure on the writer's side stops the chip, and the file is the
// same as one thread would have made.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "sound/block_queue.h"
#include "sound/render_file.h"
#include "sound/render_writer.h"
#include "sound/resampled_stream.h"
#include "sound/resampler.h"
#include "sound_test_support.h"

namespace {

using app::BlockQueue;

std::int16_t sampleAt(std::size_t i) { return static_cast<std::int16_t>(i * 7919u); }

// Writes samples 0..total-1 of sampleAt() in uneven pieces, as a chip split by its register
// writes does, handing over part-filled blocks every so often.
void produce(BlockQueue& queue, std::size_t total, std::atomic<std::size_t>& written) {
    std::size_t at = 0;
    for (std::size_t piece = 0; at < total; ++piece) {
        const std::span<std::int16_t> room = queue.room();
        const std::size_t n = std::min({room.size(), total - at, 1 + piece * 997 % 5000});
        for (std::size_t i = 0; i < n; ++i) room[i] = sampleAt(at + i);
        queue.wrote(n);
        at += n;
        written.store(at);
        if (piece % 37 == 36) queue.drain();
    }
    queue.close();
}

TEST(BlockQueue, EverySampleArrivesOnceAndInOrderThroughWholeAndPartBlocks) {
    BlockQueue queue;
    constexpr std::size_t kTotal = 40 * BlockQueue::kBlockSamples + 123;  // wraps, ends part-full
    std::atomic<std::size_t> written{0};
    std::thread producer([&] { produce(queue, kTotal, written); });
    std::size_t seen = 0;
    std::size_t wrong = 0;
    for (auto block = queue.next(); !block.empty(); block = queue.next()) {
        for (const std::int16_t s : block) wrong += s != sampleAt(seen++);
        queue.done();
    }
    producer.join();
    EXPECT_EQ(seen, kTotal);
    EXPECT_EQ(wrong, 0u);
}

TEST(BlockQueue, TheChipNeverRunsMoreThanTheQueueAhead) {
    // Given a writer much slower than the chip,
    BlockQueue queue;
    constexpr std::size_t kTotal = 30 * BlockQueue::kBlockSamples;
    std::atomic<std::size_t> written{0};
    std::thread producer([&] { produce(queue, kTotal, written); });
    // then, whenever the writer looks, the chip is at most the queue's length past what the
    // writer has finished with.
    std::size_t finished = 0;
    std::size_t most_ahead = 0;
    for (auto block = queue.next(); !block.empty(); block = queue.next()) {
        for (int i = 0; i < 50; ++i) std::this_thread::yield();  // give the chip every chance
        most_ahead = std::max(most_ahead, written.load() - finished);
        finished += block.size();
        queue.done();
    }
    producer.join();
    EXPECT_LE(most_ahead, BlockQueue::kBlocks * BlockQueue::kBlockSamples);
}

TEST(BlockQueue, AWriterFailureStopsTheChipWithTheWritersError) {
    // Given a writer that fails on its first block, while the chip goes on making samples
    BlockQueue queue;
    std::atomic<std::size_t> written{0};
    std::string raised;
    std::thread producer([&] {
        try {
            produce(queue, 100 * BlockQueue::kBlockSamples, written);
        } catch (const std::runtime_error& e) {
            raised = e.what();
        }
    });
    ASSERT_FALSE(queue.next().empty());
    queue.fail(std::make_exception_ptr(std::runtime_error("disk full")));
    // then the chip gets that error instead of waiting for room forever.
    producer.join();
    EXPECT_EQ(raised, "disk full");
    EXPECT_LE(written.load(), (BlockQueue::kBlocks + 1) * BlockQueue::kBlockSamples);
}

TEST(BlockQueue, CancelDropsWhatIsQueued) {
    BlockQueue queue;
    for (int block = 0; block < 2; ++block) queue.wrote(queue.room().size());
    queue.cancel();
    EXPECT_TRUE(queue.next().empty());
}

// A tone that glides, so that a misplaced or repeated sample changes the resampled output.
std::vector<std::int16_t> glide(std::size_t n) {
    std::vector<std::int16_t> x(n);
    double phase = 0;
    for (std::size_t i = 0; i < n; ++i) {
        phase += 2 * std::numbers::pi *
                 (200.0 + 3000.0 * static_cast<double>(i) / static_cast<double>(n)) / 49716;
        x[i] = static_cast<std::int16_t>(std::lround(12000 * std::sin(phase)));
    }
    return x;
}

class RenderWriterRate : public testing::TestWithParam<int> {};

TEST_P(RenderWriterRate, WritesTheOutputFromStartToEndAsOneResamplerCallWould) {
    const int rate_hz = GetParam();
    const auto native = glide(std::size_t{5} * 49716);
    const std::int64_t start = 1234;
    const std::int64_t end = 3 * rate_hz + 17;
    // What the file should hold: at the chip's own rate its samples as they are, otherwise
    // the whole input through one resampler in one call.
    std::vector<std::int16_t> expected;
    if (rate_hz == 49716) {
        expected.assign(native.begin() + static_cast<std::ptrdiff_t>(start),
                        native.begin() + static_cast<std::ptrdiff_t>(end));
    } else {
        sound::Resampler resampler(rate_hz, sound::Resampler::Use::Render);
        sound::SampleBuffer all;
        resampler.process(native.data(), native.size(), all);
        ASSERT_GE(all.size(), static_cast<std::size_t>(end));
        expected.assign(all.data() + start, all.data() + end);
    }

    const auto path = sound_test::scratchDir() / ("writer-" + std::to_string(rate_hz) + ".wav");
    {
        sound::RenderFile wav(path, sound::RenderFormat::Wav, rate_hz, {});
        app::RenderWriter writer(wav, rate_hz, start);
        writer.setEnd(end);
        std::size_t at = 0;
        auto feed = [&](std::size_t n) {
            while (n > 0 && at < native.size()) {
                const auto room = writer.sink().room();
                const std::size_t k = std::min({n, room.size(), native.size() - at});
                std::copy_n(native.begin() + static_cast<std::ptrdiff_t>(at), k, room.begin());
                writer.sink().wrote(k);
                at += k;
                n -= k;
            }
        };
        // The chip runs to the end in uneven strides, then on until the resampler is satisfied.
        std::size_t stride = 1;
        while (at < std::size_t{3} * 49716) {  // feed() moves `at` on
            feed(stride);
            stride += 777;
        }
        while (!writer.complete()) {
            ASSERT_LT(at, native.size()) << "the writer never had enough";
            feed(480);
        }
        writer.finish();
        wav.commit();
    }
    sound_test::WavInfo info;
    const auto got = sound_test::readWav(path, info);
    EXPECT_EQ(info.samplerate, rate_hz);
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
}

INSTANTIATE_TEST_SUITE_P(Rates, RenderWriterRate, testing::Values(48000, 49716, 8000));

// The song's register writes with the output sample each was made at.
class ProgramRecorder final : public fm::PortIo {
public:
    ProgramRecorder(fm::PortIo& next, sound::ChipSession& chip) : next_(next), chip_(chip) {}
    void out(std::uint16_t port, std::int16_t value) override {
        if (auto w = decoder_.out(port, value))
            writes.push_back({chip_.run()->frame(), w->reg, w->value});
        next_.out(port, value);
    }
    std::uint8_t in(std::uint16_t port) override { return next_.in(port); }
    std::vector<sound::StampedWrite> writes;

private:
    fm::PortIo& next_;
    sound::ChipSession& chip_;
    fm::opl2::PortDecoder decoder_;
};

class RenderPipelineRate : public testing::TestWithParam<int> {};

TEST_P(RenderPipelineRate, TheWavIsTheSongsRegisterProgramRunOnOneThread) {
    // Given a whole render, with every register write it made and when,
    const int rate_hz = GetParam();
    const auto path = sound_test::scratchDir() / ("pipeline-" + std::to_string(rate_hz) + ".wav");
    auto chip = sound::ChipSession::forRender(sound::Emulator::Dosbox, rate_hz);
    auto port = chip->makePort();
    ProgramRecorder recorder(*port, *chip);
    app::RenderFrontEnd render(recorder, *chip, path, nullptr, [](int) { throw 0; });
    render.render();
    sound_test::WavInfo info;
    const auto wav = sound_test::readWav(path, info);
    ASSERT_GT(wav.size(), static_cast<std::size_t>(60 * rate_hz));

    // when the same writes drive a fresh chip stream on this thread alone,
    sound::ResampledStream stream(sound::Emulator::Dosbox, rate_hz);
    sound::WriteQueue queue;
    for (const auto& w : recorder.writes) ASSERT_TRUE(queue.push(w));
    const auto start = static_cast<std::size_t>(render.startFrame());
    while (stream.taken() + static_cast<std::int64_t>(stream.pending()) <
           static_cast<std::int64_t>(start + wav.size()))
        stream.renderTo(stream.frame() + 4096, queue);
    std::vector<std::int16_t> one_thread(start + wav.size());
    ASSERT_EQ(stream.take(one_thread.data(), one_thread.size()), one_thread.size());

    // then the file holds exactly its samples from the press of "Start" on.
    EXPECT_TRUE(std::equal(wav.begin(), wav.end(),
                           one_thread.begin() + static_cast<std::ptrdiff_t>(start)));
}

INSTANTIATE_TEST_SUITE_P(Rates, RenderPipelineRate, testing::Values(48000, 49716));

#ifndef _WIN32
// Windows has no file-size limit to stand in for a full disk.

// Renders into `dir` on a file system that takes 100 kB and no more: a full disk, in effect.
// Ends the process: 3 if the render failed and left nothing behind.
[[noreturn]] void renderOntoAFullDisk(const std::filesystem::path& dir) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = 100'000;
    setrlimit(RLIMIT_FSIZE, &limit);
    auto chip = sound::ChipSession::forRender(sound::Emulator::Dosbox, 48000);
    auto port = chip->makePort();
    try {
        app::RenderFrontEnd render(*port, *chip, dir / "song.wav", nullptr, [](int) { throw 0; });
        render.render();
    } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "%s\n", e.what());
        std::exit(std::filesystem::is_empty(dir) ? 3 : 4);
    }
    std::exit(0);
}

TEST(RenderPipeline, AFileThatCannotBeWrittenStopsTheRenderWithTheReason) {
    // Given a disk that fills while the writer's thread writes, then the chip's thread stops
    // with the writer's reason, and nothing is left behind.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto dir = sound_test::scratchDir() / "too-large";
    std::filesystem::create_directories(dir);
    EXPECT_EXIT(renderOntoAFullDisk(dir), testing::ExitedWithCode(3), "cannot write .*song.wav");
}
#endif

}  // namespace

// The chip stream applies each write at the sample its stamp names, and a late one at once.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "fm/opl2.h"
#include "sound/resampled_stream.h"
#include "sound/write_queue.h"

namespace {

constexpr int kRateHz = 48000;

// Voice 1 set up loud and keyed on at 440-odd Hz: the writes that make a stream audible.
const std::vector<fm::opl2::RegisterWrite> kNote = {
    {0x20, 0x01}, {0x23, 0x01}, {0x40, 0x3F}, {0x43, 0x00}, {0x60, 0xF0},
    {0x63, 0xF0}, {0x80, 0x77}, {0x83, 0x77}, {0xA0, 0x87}, {0xB0, 0x2E}};

void push(sound::WriteQueue& queue, std::int64_t at_frame) {
    for (const auto& w : kNote) ASSERT_TRUE(queue.push({at_frame, w.reg, w.value}));
}

std::vector<std::int16_t> takeAll(sound::ResampledStream& stream, std::size_t n) {
    std::vector<std::int16_t> out(n);
    out.resize(stream.take(out.data(), n));
    return out;
}

// Runs a stream to `frame` in strides of `stride`, as a callback would.
void runTo(sound::ResampledStream& stream, sound::WriteQueue& queue, std::int64_t frame,
           std::int64_t stride) {
    while (stream.frame() < frame) stream.renderTo(std::min(frame, stream.frame() + stride), queue);
}

TEST(ResampledStream, AWriteLandsAtItsStampWhereverTheRunIsSplit) {
    // Given the same note stamped at sample 1234, once run past in big strides and once with
    // the run stopped at the stamp by hand,
    sound::ResampledStream split_inside(sound::Emulator::Dosbox, kRateHz);
    sound::WriteQueue queue_inside;
    push(queue_inside, 1234);
    runTo(split_inside, queue_inside, 4800, 1000);

    sound::ResampledStream split_outside(sound::Emulator::Dosbox, kRateHz);
    sound::WriteQueue queue_outside;
    runTo(split_outside, queue_outside, 1234, 1234);
    push(queue_outside, 1234);
    runTo(split_outside, queue_outside, 4800, 1000);

    // then both give the same samples, and the note is heard.
    const auto a = takeAll(split_inside, 4000);
    const auto b = takeAll(split_outside, 4000);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(a, b);
    int peak = 0;
    for (auto v : a) peak = std::max(peak, v < 0 ? -v : static_cast<int>(v));
    EXPECT_GT(peak, 1000);
}

TEST(ResampledStream, AWriteStampedInThePastTakesEffectAtOnce) {
    // Given a stream already run to sample 2000, when a note stamped at 1000 arrives,
    sound::ResampledStream late(sound::Emulator::Dosbox, kRateHz);
    sound::WriteQueue late_queue;
    runTo(late, late_queue, 2000, 500);
    push(late_queue, 1000);
    runTo(late, late_queue, 4800, 500);

    // then it sounds from sample 2000, as if it had been stamped there.
    sound::ResampledStream on_time(sound::Emulator::Dosbox, kRateHz);
    sound::WriteQueue on_time_queue;
    push(on_time_queue, 2000);
    runTo(on_time, on_time_queue, 4800, 500);
    EXPECT_EQ(takeAll(late, 4000), takeAll(on_time, 4000));
}

TEST(ResampledStream, SkippingAheadPlaysOnAsIfTheSoundHadBeenHeard) {
    // Given a note keyed on at 1000 in a stream whose device goes away at 1500 and comes back
    // at 30000, when the stream skips to 30000, then it gives the same samples from there on
    // as a stream that played all along: the chip has run on, the writes made meanwhile too.
    sound::ResampledStream skipped(sound::Emulator::Dosbox, kRateHz);
    sound::WriteQueue skipped_queue;
    push(skipped_queue, 1000);
    runTo(skipped, skipped_queue, 1500, 500);
    takeAll(skipped, 1500 - 200);
    ASSERT_TRUE(skipped_queue.push({20000, fm::opl2::kKeyOnBlock, 0x12}));  // keyed off
    skipped.skipTo(30000, skipped_queue);
    EXPECT_EQ(skipped.taken(), 30000);

    sound::ResampledStream heard(sound::Emulator::Dosbox, kRateHz);
    sound::WriteQueue heard_queue;
    push(heard_queue, 1000);
    ASSERT_TRUE(heard_queue.push({20000, fm::opl2::kKeyOnBlock, 0x12}));
    runTo(heard, heard_queue, 34800, 500);
    takeAll(heard, 30000);
    runTo(skipped, skipped_queue, 34800, 500);
    EXPECT_EQ(takeAll(skipped, 4000), takeAll(heard, 4000));
}

}  // namespace

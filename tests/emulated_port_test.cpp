// The emulated chip's ports: what reaches the chip, and when.
#include <gtest/gtest.h>

#include <vector>

#include "sound/chip_session.h"
#include "sound/stamping_port.h"

namespace {

std::vector<sound::StampedWrite> drain(sound::WriteQueue& queue) {
    std::vector<sound::StampedWrite> writes;
    for (sound::StampedWrite w; queue.peek(w); queue.pop()) writes.push_back(w);
    return writes;
}

TEST(StampingPort, DataGoesToTheLatchedRegisterLowBytesOnly) {
    sound::WriteQueue queue;
    sound::StampingPort port(queue, [] { return std::int64_t{7}; });
    port.out(fm::opl2::kAddressPort, 0x1A0);  // 8-bit ports: the high byte never arrives
    port.out(fm::opl2::kDataPort, -1);
    port.out(fm::opl2::kDataPort, 0x42);  // the latch holds until the next address write
    const auto writes = drain(queue);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].reg, 0xA0);
    EXPECT_EQ(writes[0].value, 0xFF);
    EXPECT_EQ(writes[1].reg, 0xA0);
    EXPECT_EQ(writes[1].value, 0x42);
    EXPECT_EQ(writes[1].at_frame, 7);
}

TEST(StampingPort, StatusReadsAnswerAsAnIdleOpl2AndSendNothing) {
    sound::WriteQueue queue;
    sound::StampingPort port(queue, [] { return std::int64_t{0}; });
    EXPECT_EQ(port.in(fm::opl2::kAddressPort), 0x06);
    EXPECT_TRUE(drain(queue).empty());
}

TEST(StampingPort, StampsNeverGoBackwards) {
    // Given a clock that jumps back (a late audio callback re-anchoring it)
    sound::WriteQueue queue;
    std::vector<std::int64_t> times = {100, 90, 120};
    std::size_t next = 0;
    sound::StampingPort port(queue, [&] { return times[next++]; });
    for (int i = 0; i < 3; ++i) port.out(fm::opl2::kDataPort, 0);
    const auto writes = drain(queue);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[1].at_frame, 100);  // then the chip never sees them out of order
    EXPECT_EQ(writes[2].at_frame, 120);
}

TEST(StampingPort, WritesBeyondAFullQueueAreCountedForTheChipToReport) {
    // Given a render chip whose stream never runs, when more writes come than the queue holds
    auto chip = sound::ChipSession::forRender(sound::Emulator::Dosbox, 48000);
    auto port = chip->makePort();
    port->out(fm::opl2::kAddressPort, 0xA0);
    for (std::size_t i = 0; i < sound::WriteQueue::kCapacity + 3; ++i)
        port->out(fm::opl2::kDataPort, 1);
    // Then the chip knows exactly how many were lost
    EXPECT_EQ(chip->droppedWrites(), 3);
}

}  // namespace

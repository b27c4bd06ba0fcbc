// The note-holding wait: clock-driven, pumping events in short slices, safe across midnight.
#include "playback/timed_wait.h"

#include <gtest/gtest.h>

#include <numeric>

#include "chip_fakes.h"

namespace {

using fakes::FakeClock;
using fakes::ScriptedPump;
using playback::kPumpSliceSeconds;
using playback::TimedWait;

double totalBlocked(const ScriptedPump& pump) {
    return std::accumulate(pump.blocks().begin(), pump.blocks().end(), 0.0);
}

}  // namespace

TEST(TimedWait, NothingLeftToWaitPumpsNoEvents) {
    for (double seconds : {0.0, -1.0, -0.908}) {
        FakeClock clock;
        ScriptedPump pump(clock, 0.125);
        TimedWait(clock, pump).Sleep(seconds);
        EXPECT_EQ(pump.passes(), 0) << seconds;
        EXPECT_EQ(clock.reads(), 2) << seconds;  // the start and one check
    }
}

TEST(TimedWait, ReturnsAtTheFirstCheckWhereTheTimeHasPassed) {
    // Ticks of 1/8 s are exact in float, so the checks fall at 0, 0.125, 0.25, ...
    const struct {
        double seconds;
        int passes;
    } table[] = {{0.908, 8}, {0.875, 7}, {0.876, 8}, {1.0, 8}, {0.1, 1}, {0.125, 1}};
    for (const auto& row : table) {
        FakeClock clock(3600.0f);
        ScriptedPump pump(clock, 0.125);
        TimedWait(clock, pump).Sleep(row.seconds);
        EXPECT_EQ(pump.passes(), row.passes) << row.seconds;
        EXPECT_DOUBLE_EQ(clock.now(), 3600.0 + 0.125 * row.passes) << row.seconds;
        // Start, one loop check per pass plus the last, one midnight check per pass.
        EXPECT_EQ(clock.reads(), 2 + 2 * row.passes) << row.seconds;
    }
}

TEST(TimedWait, EveryCheckReadsTheClockAfresh) {
    // The clock alone moves the wait on: 0.25 s per read, the pump barely blocks.
    FakeClock clock(3600.0f);
    clock.setAdvancePerRead(0.25);
    ScriptedPump pump(clock, 1e-6);
    pump.setPassLimit(100);
    TimedWait(clock, pump).Sleep(0.908);
    // Loop checks see 0.25, then 0.75 (one midnight read in between), then 1.25.
    EXPECT_EQ(pump.passes(), 2);
    EXPECT_EQ(clock.reads(), 6);
}

TEST(TimedWait, PumpBlocksInSlicesNeverPastTheRemainingTime) {
    FakeClock clock(3600.0f);
    ScriptedPump pump(clock);  // blocks for exactly what it is asked
    pump.setPassLimit(10'000);
    TimedWait(clock, pump).Sleep(0.908);
    ASSERT_GE(pump.passes(), 182);
    for (std::size_t i = 0; i < pump.blocks().size(); ++i) {
        const double block = pump.blocks()[i];
        const double elapsed = static_cast<float>(pump.clockTimes()[i]) - 3600.0;
        EXPECT_GT(block, 0.0) << "pass " << i + 1;
        EXPECT_LE(block, kPumpSliceSeconds) << "pass " << i + 1;
        EXPECT_LE(block, 0.908 - elapsed + 1e-9) << "pass " << i + 1;
    }
    EXPECT_NEAR(clock.now() - 3600.0, 0.908, 1e-3);
    EXPECT_EQ(clock.reads(), 2 + 2 * pump.passes());
}

TEST(TimedWait, ShortWaitBlocksOnlyForWhatIsLeft) {
    FakeClock clock(3600.0f);
    ScriptedPump pump(clock);
    // 1/512 s is exact in float at this clock value, so one pass must finish the wait.
    TimedWait(clock, pump).Sleep(1.0 / 512);
    ASSERT_EQ(pump.passes(), 1);
    EXPECT_EQ(pump.blocks()[0], 1.0 / 512);
}

TEST(TimedWait, WaitAcrossMidnightLastsItsLength) {
    for (float start : {86399.0f, 86399.5f, 86399.9f}) {
        FakeClock clock(start);
        ScriptedPump pump(clock, 0.125);
        pump.setPassLimit(1000);
        TimedWait(clock, pump).Sleep(0.908);
        EXPECT_EQ(pump.passes(), 8) << start;
    }
}

TEST(TimedWait, WaitAcrossMidnightStillPumpsInBoundedSlices) {
    FakeClock clock(86399.5f);
    ScriptedPump pump(clock);
    pump.setPassLimit(10'000);
    TimedWait(clock, pump).Sleep(0.908);
    EXPECT_NEAR(totalBlocked(pump), 0.908, 1e-3);
    EXPECT_LT(clock.now(), 1.0);  // the clock really did wrap
    for (double block : pump.blocks()) EXPECT_LE(block, kPumpSliceSeconds);
}

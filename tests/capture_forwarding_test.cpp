// A capture in front of the chip is invisible to it: every access arrives as it was made.
#include <gtest/gtest.h>

#include "capture/capture_port.h"
#include "capture_readers.h"
#include "chip_fakes.h"

TEST(CaptureForwarding, EveryAccessReachesTheChipUnchanged) {
    readers::ScratchDir dir;
    fakes::RecordingPort chip;
    fm::CapturePort port(
        chip, dir.path() / "s.vgm", [] { return 0.0; }, "vesk");
    port.out(fm::opl2::kAddressPort, 0x1B0);
    EXPECT_EQ(port.in(fm::opl2::kAddressPort), fm::opl2::kIdleStatus);
    port.out(fm::opl2::kDataPort, -1);
    port.out(0x220, 5);  // a port the capture ignores still reaches the chip
    const auto& a = chip.accesses();
    ASSERT_EQ(a.size(), 4u);
    EXPECT_TRUE(a[0].is_out && a[0].port == fm::opl2::kAddressPort && a[0].value == 0x1B0);
    EXPECT_TRUE(!a[1].is_out && a[1].port == fm::opl2::kAddressPort);
    EXPECT_TRUE(a[2].is_out && a[2].port == fm::opl2::kDataPort && a[2].value == -1);
    EXPECT_TRUE(a[3].is_out && a[3].port == 0x220 && a[3].value == 5);
}

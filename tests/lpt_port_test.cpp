// --chip lpt through its seam: the data and control bytes an OPL2LPT receives, decoded back into
// register writes the way the board's chip takes them, with the chip's delays checked.
#include "fm/ports/lpt_port.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "real_chip_links.h"

namespace {

// The PC control register's lines (base + 2): nStrobe, nInit and nSelectIn.
constexpr int kStrobe = 0x01;
constexpr int kInit = 0x04;
constexpr int kSelectIn = 0x08;

// The board: nSelectIn selects the chip, nStrobe held picks its address port, and the chip
// takes the data lines as nInit comes back up.
struct Board final : fm::ParallelLines {
    void writeData(std::uint8_t value) override {
        if (since_us_ < needed_us_)
            faults.push_back("data changed " + std::to_string(since_us_) + " us after a write");
        data_ = value;
    }
    void writeControl(std::uint8_t value) override {
        const bool rising = (control_ & kInit) == 0 && (value & kInit) != 0;
        if (rising && (value & kSelectIn) != 0) {
            if (value & kStrobe) {
                reg_ = data_;
                needed_us_ = 4;  // the chip needs 3.3 us after an address
            } else {
                writes.push_back({static_cast<std::uint8_t>(reg_), data_});
                needed_us_ = 33;  // and 23 us after data
            }
            since_us_ = 0;
        }
        control_ = value;
    }
    void pause(int us) override { since_us_ += us; }

    std::vector<fm::opl2::RegisterWrite> writes;
    std::vector<std::string> faults;
    std::uint8_t data_ = 0;
    std::uint8_t control_ = kSelectIn | kInit;
    int reg_ = 0;
    int since_us_ = 1000;
    int needed_us_ = 0;
};

TEST(LptBoard, TheTunesWritesArriveInOrderWithTheChipsDelays) {
    auto owned = std::make_unique<Board>();
    Board& board = *owned;
    fm::LptPort port(std::move(owned));
    fakes::WriteTap tap(port);
    fakes::playTune(tap);
    ASSERT_EQ(tap.writes.size(), 245u + 47u + 74u * 6u);
    EXPECT_EQ(board.writes, tap.writes);
    EXPECT_TRUE(board.faults.empty()) << board.faults.front();
}

}  // namespace

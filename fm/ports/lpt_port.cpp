// The OPL2LPT's two pulses: nSelectIn selects the chip, nStrobe held tells an address from data,
// and a pulse of nInit strobes the byte on the data lines into the chip.
#include "fm/ports/lpt_port.h"

namespace fm {

namespace {
// The chip needs 3.3 us after an address write and 23 us after a data write; the board's
// makers ask for a margin on both.
constexpr int kAfterAddressUs = 4;
constexpr int kAfterDataUs = 33;

constexpr std::uint8_t kAddressIdle = lpt::kSelectIn | lpt::kInit | lpt::kStrobe;
constexpr std::uint8_t kAddressPulse = lpt::kSelectIn | lpt::kStrobe;
constexpr std::uint8_t kDataIdle = lpt::kSelectIn | lpt::kInit;
constexpr std::uint8_t kDataPulse = lpt::kSelectIn;
}  // namespace

void LptPort::out(std::uint16_t port, std::int16_t value) {
    const auto write = decoder_.out(port, value);
    if (!write) return;
    lines_->writeData(write->reg);
    lines_->writeControl(kAddressIdle);
    lines_->writeControl(kAddressPulse);
    lines_->writeControl(kAddressIdle);
    lines_->pause(kAfterAddressUs);
    lines_->writeData(write->value);
    lines_->writeControl(kDataIdle);
    lines_->writeControl(kDataPulse);
    lines_->writeControl(kDataIdle);
    lines_->pause(kAfterDataUs);
}

}  // namespace fm

// A backend in front of a real card that keeps what its status reads answered, so the program
// can say what sits at 0x388 without a single access of its own.
#pragma once

#include <cstdint>

#include "fm/opl2.h"
#include "fm/port_io.h"

namespace fm {

// What the status reads so far say about the card.
enum class StatusAnswer {
    NotRead,  // no status read yet
    Opl2,     // bits 2-1 set in every read
    Opl3,     // bits 2-1 clear in every read
    Nothing,  // every read gave 0xFF: an empty bus
    Unclear,  // neither: mixed values, or a chip of another kind
};

// Every access goes on to `next` unchanged; only the values read are looked at.
class StatusWatch final : public PortIo {
public:
    explicit StatusWatch(PortIo& next) : next_(next) {}

    void out(std::uint16_t port, std::int16_t value) override { next_.out(port, value); }
    std::uint8_t in(std::uint16_t port) override {
        const std::uint8_t status = next_.in(port);
        if (port == opl2::kAddressPort) {
            ++reads_;
            if (status != opl2::kEmptyBus) all_empty_ = false;
            const auto kind = static_cast<std::uint8_t>(status & opl2::kChipKindBits);
            if (kind != opl2::kChipKindBits) all_opl2_ = false;
            if (kind != opl2::kOpl3KindBits) all_opl3_ = false;
            lowest_ = status < lowest_ ? status : lowest_;
            highest_ = status > highest_ ? status : highest_;
        }
        return status;
    }

    StatusAnswer answer() const {
        if (reads_ == 0) return StatusAnswer::NotRead;
        if (all_empty_) return StatusAnswer::Nothing;
        if (all_opl2_) return StatusAnswer::Opl2;
        if (all_opl3_) return StatusAnswer::Opl3;
        return StatusAnswer::Unclear;
    }
    long reads() const { return reads_; }
    std::uint8_t lowest() const { return lowest_; }
    std::uint8_t highest() const { return highest_; }

private:
    PortIo& next_;
    long reads_ = 0;
    bool all_empty_ = true;
    bool all_opl2_ = true;
    bool all_opl3_ = true;
    std::uint8_t lowest_ = 0xFF;
    std::uint8_t highest_ = 0x00;
};

}  // namespace fm

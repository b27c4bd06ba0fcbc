// A backend in front of any other that remembers which channels are keyed on, so a way out can
// silence what still sounds.
#pragma once

#include <array>

#include "fm/opl2.h"
#include "fm/port_io.h"

namespace fm {

// Which channels the register writes so far have left keyed on.
class KeyedOnChannels {
public:
    void note(const opl2::RegisterWrite& write) {
        const int channel = write.reg - opl2::kKeyOnBlock;
        if (channel >= 0 && channel < opl2::kChannels)
            keyed_on_[static_cast<std::size_t>(channel)] = (write.value & opl2::kKeyOnBit) != 0;
    }
    // Whether the last write to the channel's key-on register (channels from 0) keyed it on.
    bool keyedOn(int channel) const { return keyed_on_.at(static_cast<std::size_t>(channel)); }

private:
    std::array<bool, opl2::kChannels> keyed_on_{};
};

// Every access goes on to `next` unchanged.
class KeyOnWatch final : public PortIo {
public:
    explicit KeyOnWatch(PortIo& next) : next_(next) {}

    void out(std::uint16_t port, std::int16_t value) override {
        if (auto write = decoder_.out(port, value)) channels_.note(*write);
        next_.out(port, value);
    }
    std::uint8_t in(std::uint16_t port) override { return next_.in(port); }

    bool keyedOn(int channel) const { return channels_.keyedOn(channel); }

private:
    PortIo& next_;
    opl2::PortDecoder decoder_;
    KeyedOnChannels channels_;
};

}  // namespace fm

// The emulated chip behind the port seam: register select on 0x388, data on 0x389, idle status.
#pragma once

#include <cstdint>
#include <functional>

#include "fm/opl2.h"
#include "fm/port_io.h"
#include "sound/write_queue.h"

namespace sound {

class StampingPort final : public fm::PortIo {
public:
    // `now_frame` gives the output sample at which a write made now takes effect; the stamps it
    // gives are kept from going backwards.
    StampingPort(WriteQueue& queue, std::function<std::int64_t()> now_frame)
        : queue_(queue), now_frame_(std::move(now_frame)) {}

    void out(std::uint16_t port, std::int16_t value) override;
    // The program never starts the chip's timers, so the status port always reads idle.
    std::uint8_t in(std::uint16_t) override { return fm::opl2::kIdleStatus; }

    // Writes refused because the renderer fell so far behind that the queue filled up.
    std::int64_t dropped() const { return dropped_; }

private:
    WriteQueue& queue_;
    std::function<std::int64_t()> now_frame_;
    fm::opl2::PortDecoder decoder_;
    std::int64_t last_stamp_ = 0;
    std::int64_t dropped_ = 0;
};

}  // namespace sound

// A serial OPL board at the back of the chain: each register write goes out over a byte link.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "fm/opl2.h"
#include "fm/port_io.h"
#include "fm/ports/key_on_watch.h"
#include "fm/ports/serial_protocol.h"

namespace fm {

// The byte pipe to the board, one implementation per platform (app/platform/serial_link_*).
class SerialLink {
public:
    virtual ~SerialLink() = default;
    // Sends every byte, in order, before returning. A link that fails raises
    // common::RunError (DeviceLost) with a message naming the device.
    virtual void send(std::span<const std::uint8_t> bytes) = 0;
    // Gives the line back as it was found (its settings restored), after what was sent has
    // gone out or, for a board that takes nothing, a moment's wait. Sends nothing more.
    virtual void close() {}
};

// A write to the address port latches the register; a write to the data port sends that
// register write to the board, never dropped, never merged with another. Status reads answer
// as an idle OPL2 without touching the link: the board paces the chip, so the delay reads
// cost nothing on the wire.
class SerialPort final : public PortIo {
public:
    SerialPort(std::unique_ptr<SerialLink> link, SerialProtocol protocol);

    void out(std::uint16_t port, std::int16_t value) override;
    std::uint8_t in(std::uint16_t) override { return opl2::kIdleStatus; }

    // For the way out: keys off each channel the board last heard keyed on, if the link still
    // works. A real chip keeps sounding after the program ends. A channel already keyed off
    // is not written again, so after a clean ending the wire carries the program's writes
    // and nothing else.
    void keyOffSounding();
    // The last step of the way out: the line is given back as it was found.
    void closeLink() { link_->close(); }

    bool linkUp() const { return lost_.empty(); }

private:
    void send(opl2::RegisterWrite write);

    std::unique_ptr<SerialLink> link_;
    SerialProtocol protocol_;
    opl2::PortDecoder decoder_;
    bool set_up_ = false;
    std::string lost_;  // the link's failure, once it has failed
    KeyedOnChannels keyed_on_;
    SerialBytes bytes_;
};

}  // namespace fm

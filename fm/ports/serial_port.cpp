// Register writes to a serial board; the link's failure is remembered so the way out skips it.
#include "fm/ports/serial_port.h"

#include <utility>

#include "common/run_error.h"

namespace fm {

SerialPort::SerialPort(std::unique_ptr<SerialLink> link, SerialProtocol protocol)
    : link_(std::move(link)), protocol_(protocol) {}

void SerialPort::out(std::uint16_t port, std::int16_t value) {
    if (const auto write = decoder_.out(port, value)) send(*write);
}

void SerialPort::send(opl2::RegisterWrite write) {
    // Once lost, a link stays lost: the board may have missed part of a write.
    if (!linkUp()) throw common::RunError(common::RunError::Kind::DeviceLost, lost_);
    bytes_.clear();
    if (!set_up_) bytes_ = serialSetUp(protocol_);
    appendSerialWrite(protocol_, write, bytes_);
    try {
        link_->send(bytes_);
    } catch (const std::exception& e) {
        lost_ = e.what();
        throw;
    }
    set_up_ = true;
    keyed_on_.note(write);
}

void SerialPort::keyOffSounding() {
    for (int channel = 0; channel < opl2::kChannels; ++channel) {
        if (!linkUp()) return;
        if (keyed_on_.keyedOn(channel))
            send({static_cast<std::uint8_t>(opl2::kKeyOnBlock + channel), 0});
    }
}

}  // namespace fm

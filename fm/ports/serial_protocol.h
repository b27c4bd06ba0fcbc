// The byte protocols of serial OPL boards: what goes over the wire for one register write.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fm/opl2.h"

namespace fm {

// The board's firmware writes the chip and paces it, so the host sends register writes only:
// no status reads and no delays.
enum class SerialProtocol {
    // register, value: the OPL2 Audio Board's serial pass-through sketch. Its sketches take
    // register 0xFF <- 0xA5 as a reset; no OPL2 register lives at 0xFF, and none is written.
    Arduino,
    Nuke,       // Nuke.YKT's 3-byte framing, also spoken by OPL3 Duo pass-through sketches
    RetroWave,  // the RetroWave OPL3 Express: SPI-bridge commands in 7-bit frames
};

inline constexpr SerialProtocol kDefaultSerialProtocol = SerialProtocol::Arduino;
// The rate the pass-through sketches open their port at.
inline constexpr int kDefaultSerialBaud = 115200;

std::optional<SerialProtocol> serialProtocolNamed(std::string_view name);
const char* serialProtocolName(SerialProtocol protocol);
// "arduino, nuke or retrowave", for help and errors.
std::string serialProtocolNames();

using SerialBytes = std::vector<std::uint8_t>;

// Appends the bytes that carry one register write.
void appendSerialWrite(SerialProtocol protocol, opl2::RegisterWrite write, SerialBytes& out);

// What the board needs once, before its first register write; empty where the protocol
// defines nothing.
SerialBytes serialSetUp(SerialProtocol protocol);

// How long the board is deaf after its port opens. An Arduino restarts when the host raises
// DTR on open, and its bootloader eats whatever arrives before the sketch runs; in the
// two-byte protocol one lost byte would shift every later pair.
int serialSettleMs(SerialProtocol protocol);

}  // namespace fm

// Encoders for the serial boards' protocols, with the board facts each one relies on.
#include "fm/ports/serial_protocol.h"

#include <array>

#include "common/name_table.h"

namespace fm {

namespace {

using ProtocolEntry = common::Named<SerialProtocol>;
constexpr std::array kProtocols = {
    ProtocolEntry{"arduino", SerialProtocol::Arduino},
    ProtocolEntry{"nuke", SerialProtocol::Nuke},
    ProtocolEntry{"retrowave", SerialProtocol::RetroWave},
};

std::uint8_t byte(int value) { return static_cast<std::uint8_t>(value & 0xFF); }

// ---- Nuke.YKT ----
// The address is 9 bits wide, bit 8 selecting the OPL3's second bank (never used here). Only
// the first byte of a write has its top bit set, so a receiver that lost a byte finds the
// next write again.
constexpr int kNukeFirstByte = 0x80;
constexpr int kNukeAddressHighShift = 6;  // address bits 8-6 go in the first byte
constexpr int kNukeAddressLowBits = 0x3F;
constexpr int kNukeValueLowBits = 0x7F;  // value bit 7 rides in the second byte's bit 0

// ---- RetroWave OPL3 Express ----
// Facts from the board maker's library, RetroWaveLib (github.com/SudoMaker/RetroWave):
// retrowave_io_init in RetroWave.c, the OPL3 routines in Board/OPL3.c, the framing in
// Protocol/Serial.c. The board's USB serial bridge forwards each frame as one SPI
// transaction to MCP23S17 I/O expanders; the OPL3 hangs off the expander at hardware
// address 1. Its port A drives the chip's control lines (bit 0 /IC, bit 1 A0, bit 2 A1,
// bits 3-4 /CS and /WR) and its port B the data bus.

// MCP23S17 SPI write opcode: 0100, the 3-bit hardware address, then 0 for a write.
constexpr int kExpanderWrite = 0x40;
constexpr int kExpanderCount = 8;
constexpr int kOpl3Expander = 1;
constexpr std::uint8_t expanderWrite(int hardware_address) {
    return static_cast<std::uint8_t>(kExpanderWrite | hardware_address << 1);
}
// Expander registers, in the power-on layout (IOCON.BANK = 0).
constexpr std::uint8_t kIodirA = 0x00;  // then IODIRB: 0 bits are outputs
constexpr std::uint8_t kIocon = 0x0A;
constexpr std::uint8_t kGpioA = 0x12;  // then GPIOB
// HAEN makes each expander answer only its own hardware address; until it is set, every
// expander takes every write. SEQOP stops the register address from counting up, so
// successive bytes alternate between GPIOA and GPIOB: control lines, then data bus.
constexpr std::uint8_t kIoconHaenSeqop = 0x28;

// Port A states during one write to the OPL3's first bank. (The second bank raises A1:
// 0xE5 and 0xE7 in place of the first two.)
constexpr std::uint8_t kLinesIdle = 0xFF;     // everything released
constexpr std::uint8_t kLinesReset = 0xFE;    // /IC low: the chip resets
constexpr std::uint8_t kLinesAddress = 0xE1;  // /CS and /WR low, A0 low: a register number
constexpr std::uint8_t kLinesData = 0xE3;     // A0 high: its value
constexpr std::uint8_t kLinesRelease = 0xFB;  // /CS and /WR high again: the write is done

// On the wire a frame opens with 0x00 and closes with 0x02; between them each byte carries 7
// bits of the transfer in bits 7-1, most significant first, with bit 0 always set, so no data
// byte can be taken for either marker.
constexpr std::uint8_t kFrameStart = 0x00;
constexpr std::uint8_t kFrameEnd = 0x02;
constexpr int kBitsPerFrameByte = 7;
constexpr std::uint8_t kFrameDataMark = 0x01;

void appendFrame(std::span<const std::uint8_t> transfer, SerialBytes& out) {
    out.push_back(kFrameStart);
    unsigned pending = 0;  // bits not yet sent, right-aligned
    int pending_bits = 0;
    auto emit = [&out](unsigned seven) {
        out.push_back(static_cast<std::uint8_t>((seven & 0x7F) << 1 | kFrameDataMark));
    };
    for (std::uint8_t b : transfer) {
        pending = pending << 8 | b;
        pending_bits += 8;
        while (pending_bits >= kBitsPerFrameByte) {
            pending_bits -= kBitsPerFrameByte;
            emit(pending >> pending_bits);
            pending &= (1u << pending_bits) - 1;
        }
    }
    // The last group is padded with zero bits.
    if (pending_bits > 0) emit(pending << (kBitsPerFrameByte - pending_bits));
    out.push_back(kFrameEnd);
}

}  // namespace

std::optional<SerialProtocol> serialProtocolNamed(std::string_view name) {
    return common::valueNamed(kProtocols, name);
}

const char* serialProtocolName(SerialProtocol protocol) {
    return common::nameOf(kProtocols, protocol);
}

std::string serialProtocolNames() {
    std::string names;
    for (std::size_t i = 0; i < kProtocols.size(); ++i) {
        if (i > 0) names += i + 1 == kProtocols.size() ? " or " : ", ";
        names += kProtocols[i].name;
    }
    return names;
}

void appendSerialWrite(SerialProtocol protocol, opl2::RegisterWrite write, SerialBytes& out) {
    switch (protocol) {
        case SerialProtocol::Arduino:
            out.push_back(write.reg);
            out.push_back(write.value);
            return;
        case SerialProtocol::Nuke: {
            const int address = write.reg;  // first bank: bit 8 clear
            out.push_back(byte(kNukeFirstByte | address >> kNukeAddressHighShift));
            out.push_back(byte((address & kNukeAddressLowBits) << 1 | write.value >> 7));
            out.push_back(byte(write.value & kNukeValueLowBits));
            return;
        }
        case SerialProtocol::RetroWave: {
            // The value goes out twice: it must stay on the bus while the write is released.
            const std::array<std::uint8_t, 8> command = {expanderWrite(kOpl3Expander),
                                                         kGpioA,
                                                         kLinesAddress,
                                                         write.reg,
                                                         kLinesData,
                                                         write.value,
                                                         kLinesRelease,
                                                         write.value};
            appendFrame(command, out);
            return;
        }
    }
}

SerialBytes serialSetUp(SerialProtocol protocol) {
    SerialBytes out;
    if (protocol != SerialProtocol::RetroWave) return out;
    // A one-byte transfer first, which the maker's library sends to bring the bridge's chip
    // select to a known state.
    appendFrame(std::array<std::uint8_t, 1>{0x00}, out);
    // Every expander powers up with its pins as inputs: make them outputs, all high.
    for (int address = 0; address < kExpanderCount; ++address) {
        const std::uint8_t op = expanderWrite(address);
        appendFrame(std::array<std::uint8_t, 3>{op, kIocon, kIoconHaenSeqop}, out);
        appendFrame(std::array<std::uint8_t, 4>{op, kIodirA, 0x00, 0x00}, out);
        appendFrame(std::array<std::uint8_t, 4>{op, kGpioA, kLinesIdle, 0xFF}, out);
    }
    // Then a reset pulse on /IC. It also clears the OPL3's NEW bit, which a program that ran
    // before may have left set; with it set, the OPL2-style writes here would reach no output.
    const std::uint8_t opl3 = expanderWrite(kOpl3Expander);
    appendFrame(std::array<std::uint8_t, 4>{opl3, kGpioA, kLinesReset, 0x00}, out);
    appendFrame(std::array<std::uint8_t, 4>{opl3, kGpioA, kLinesIdle, 0x00}, out);
    return out;
}

int serialSettleMs(SerialProtocol protocol) {
    switch (protocol) {
        // Both run on Arduinos. Optiboot starts the sketch about 1 s after a reset, older
        // bootloaders later; 2 s covers them.
        case SerialProtocol::Arduino:
        case SerialProtocol::Nuke:
            return 2000;
        // Its bridge is always listening.
        case SerialProtocol::RetroWave:
            return 0;
    }
    return 0;
}

}  // namespace fm

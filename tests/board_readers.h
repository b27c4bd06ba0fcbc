// Readers for what serial OPL boards receive, written from the protocol descriptions rather
// than from our encoders: each turns the bytes on the wire back into register writes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "chip_fakes.h"

namespace boards {

using Bytes = std::vector<std::uint8_t>;

// Arduino pass-through: register, value, register, value...
inline std::vector<fakes::Write> readArduino(const Bytes& wire) {
    EXPECT_EQ(wire.size() % 2, 0u) << "half a write on the wire";
    std::vector<fakes::Write> writes;
    for (std::size_t i = 0; i + 1 < wire.size(); i += 2) writes.push_back({wire[i], wire[i + 1]});
    return writes;
}

// Nuke.YKT: a byte with bit 7 set opens each write; the 9-bit address and the value follow
// in the next 14 bits. Bank 1 (address bit 8) is never expected here.
inline std::vector<fakes::Write> readNuke(const Bytes& wire) {
    std::vector<fakes::Write> writes;
    for (std::size_t i = 0; i < wire.size(); i += 3) {
        if (!(wire[i] & 0x80) || i + 2 >= wire.size() || (wire[i + 1] & 0x80) ||
            (wire[i + 2] & 0x80)) {
            ADD_FAILURE() << "out of step at byte " << i;
            break;
        }
        const int address = (wire[i] & 0x07) << 6 | wire[i + 1] >> 1;
        EXPECT_LT(address, 0x100) << "second bank at byte " << i;
        writes.push_back({address & 0xFF, (wire[i + 1] & 1) << 7 | wire[i + 2]});
    }
    return writes;
}

// RetroWave: 0x00, then 7 bits per byte in bits 7-1 with bit 0 set, then 0x02. Returns the
// transfer; any padding short of a byte is dropped.
inline Bytes unframeRetroWave(const Bytes& frame) {
    Bytes transfer;
    if (frame.size() < 2 || frame.front() != 0x00 || frame.back() != 0x02) {
        ADD_FAILURE() << "not a frame";
        return transfer;
    }
    std::vector<int> bits;
    for (std::size_t i = 1; i + 1 < frame.size(); ++i) {
        EXPECT_EQ(frame[i] & 1, 1) << "data byte " << i << " without its marker bit";
        for (int bit = 7; bit >= 1; --bit) bits.push_back(frame[i] >> bit & 1);
    }
    for (std::size_t i = 0; i + 8 <= bits.size(); i += 8) {
        int b = 0;
        for (std::size_t k = 0; k < 8; ++k) b = b << 1 | bits[i + k];
        transfer.push_back(static_cast<std::uint8_t>(b));
    }
    return transfer;
}

struct RetroWaveStream {
    std::vector<Bytes> transfers;          // every frame's transfer, in order
    std::vector<fakes::Write> writes;      // the ones that write the OPL3's first bank
    std::size_t transfers_before_first_write = 0;
    bool other_transfer_after_a_write = false;
};

// A chip write is the bridge command 0x42 0x12, then port A/port B pairs: 0xE1 register,
// 0xE3 value, 0xFB value.
inline RetroWaveStream readRetroWave(const Bytes& wire) {
    RetroWaveStream stream;
    std::size_t start = 0;
    for (std::size_t i = 0; i < wire.size(); ++i) {
        if (wire[i] != 0x02) continue;  // no data byte can be 0x02: bit 0 is always set
        const Bytes t = unframeRetroWave(Bytes(wire.begin() + static_cast<std::ptrdiff_t>(start),
                                               wire.begin() + static_cast<std::ptrdiff_t>(i + 1)));
        start = i + 1;
        stream.transfers.push_back(t);
        const bool chip_write = t.size() == 8 && t[0] == 0x42 && t[1] == 0x12 && t[2] == 0xE1 &&
                                t[4] == 0xE3 && t[6] == 0xFB && t[7] == t[5];
        if (chip_write) {
            stream.writes.push_back({t[3], t[5]});
        } else if (stream.writes.empty()) {
            ++stream.transfers_before_first_write;
        } else {
            stream.other_transfer_after_a_write = true;
        }
    }
    EXPECT_EQ(start, wire.size()) << "a frame left open";
    return stream;
}

// The register writes of a port trace: each data-port write under the register selected last.
inline std::vector<fakes::Write> readTraceWrites(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<fakes::Write> writes;
    int selected = 0;
    for (std::string op, port, value; in >> op >> port;) {
        if (op != "out") continue;
        in >> value;
        const int v = std::stoi(value, nullptr, 16) & 0xFF;
        if (port == "0388") selected = v;
        if (port == "0389") writes.push_back({selected, v});
    }
    return writes;
}

}  // namespace boards

// Readers for VGM and DRO captures, written from the formats' documents, not from our writers.
// The tests and the capture fuzzer both read captures back with them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace readers {

using Bytes = std::vector<std::uint8_t>;

// A register write as a player applies it; `at` counts samples (VGM) or ms (DRO).
struct PlayedWrite {
    std::uint64_t at;
    int reg;
    int value;
};

inline Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline std::uint32_t le(const Bytes& b, std::size_t at, std::size_t size) {
    std::uint32_t v = 0;
    for (std::size_t i = size; i-- > 0;) v = (v << 8) | b.at(at + i);
    return v;
}

inline std::string text(const Bytes& b, std::size_t at, std::size_t size) {
    if (at + size > b.size()) throw std::runtime_error("read past the end");
    return std::string(b.begin() + static_cast<std::ptrdiff_t>(at),
                       b.begin() + static_cast<std::ptrdiff_t>(at + size));
}

struct Vgm {
    std::uint32_t eof_offset, version, total_samples, ym3812_clock_hz, ymf262_clock_hz;
    std::size_t data_start;
    std::vector<PlayedWrite> writes;
    std::uint64_t samples_played = 0;  // the sum of the waits in the data
    std::vector<std::string> gd3;      // its 11 strings, read as ASCII
};

inline Vgm readVgm(const Bytes& b) {
    if (text(b, 0, 4) != "Vgm ") throw std::runtime_error("not VGM");
    Vgm v{};
    v.eof_offset = le(b, 0x04, 4);
    v.version = le(b, 0x08, 4);
    v.total_samples = le(b, 0x18, 4);
    v.ym3812_clock_hz = le(b, 0x50, 4);
    v.ymf262_clock_hz = le(b, 0x5C, 4);
    v.data_start = 0x34 + le(b, 0x34, 4);
    for (std::size_t at = v.data_start; b.at(at) != 0x66;) {
        const int cmd = b.at(at);
        if (cmd == 0x5A) v.writes.push_back({v.samples_played, b.at(at + 1), b.at(at + 2)});
        if (cmd == 0x61) v.samples_played += le(b, at + 1, 2);
        if (cmd == 0x62 || cmd == 0x63) v.samples_played += cmd == 0x62 ? 735 : 882;
        if ((cmd & 0xF0) == 0x70) v.samples_played += static_cast<unsigned>(cmd & 0x0F) + 1;
        if (cmd != 0x5A && cmd != 0x61 && cmd != 0x62 && cmd != 0x63 && (cmd & 0xF0) != 0x70)
            throw std::runtime_error("unexpected VGM command " + std::to_string(cmd));
        at += cmd == 0x5A || cmd == 0x61 ? 3 : 1;
    }
    const std::size_t gd3 = 0x14 + le(b, 0x14, 4);
    if (text(b, gd3, 4) != "Gd3 " || le(b, gd3 + 4, 4) != 0x100)
        throw std::runtime_error("no GD3 1.00 tag where the header points");
    if (gd3 + 12 + le(b, gd3 + 8, 4) != b.size()) throw std::runtime_error("GD3 length is off");
    std::string s;
    for (std::size_t at = gd3 + 12; at < b.size(); at += 2) {
        if (const auto unit = le(b, at, 2)) {
            s += static_cast<char>(unit);
        } else {
            v.gd3.push_back(s);
            s.clear();
        }
    }
    return v;
}

struct Dro {
    std::uint32_t version_major, version_minor, pair_count, length_ms;
    int hardware, format, compression, short_delay_code, long_delay_code;
    std::vector<int> codemap;
    std::vector<PlayedWrite> writes;
    std::uint64_t ms_played = 0;
};

// As a DRO player reads: the delay codes first; only then may bit 7 pick a second chip.
inline Dro readDro(const Bytes& b) {
    if (text(b, 0, 8) != "DBRAWOPL") throw std::runtime_error("not DRO");
    Dro d{};
    d.version_major = le(b, 0x08, 2);
    d.version_minor = le(b, 0x0A, 2);
    d.pair_count = le(b, 0x0C, 4);
    d.length_ms = le(b, 0x10, 4);
    d.hardware = b.at(0x14);
    d.format = b.at(0x15);
    d.compression = b.at(0x16);
    d.short_delay_code = b.at(0x17);
    d.long_delay_code = b.at(0x18);
    for (char reg : text(b, 0x1A, b.at(0x19))) d.codemap.push_back(static_cast<std::uint8_t>(reg));
    const std::size_t pairs_at = 0x1A + d.codemap.size();
    if (b.size() != pairs_at + 2 * static_cast<std::size_t>(d.pair_count))
        throw std::runtime_error("pair count is off");
    for (std::size_t at = pairs_at; at < b.size(); at += 2) {
        const int code = b[at], value = b[at + 1];
        if (code == d.short_delay_code) {
            d.ms_played += static_cast<std::uint64_t>(value) + 1;
        } else if (code == d.long_delay_code) {
            d.ms_played += (static_cast<std::uint64_t>(value) + 1) * 256;
        } else if (static_cast<std::size_t>(code) < d.codemap.size()) {
            d.writes.push_back({d.ms_played, d.codemap[static_cast<std::size_t>(code)], value});
        } else {
            throw std::runtime_error("code " + std::to_string(code) + " is not in the codemap");
        }
    }
    return d;
}

// The OPL2's registers, listed as its documentation lays them out.
inline std::set<int> opl2Registers() {
    std::set<int> regs = {0x01, 0x02, 0x03, 0x04, 0x08, 0xBD};
    for (int base : {0x20, 0x40, 0x60, 0x80, 0xE0})
        for (int op : {0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, 16, 17, 18, 19, 20, 21})
            regs.insert(base + op);
    for (int base : {0xA0, 0xB0, 0xC0})
        for (int ch = 0; ch < 9; ++ch) regs.insert(base + ch);
    return regs;
}

inline bool isKeyOn(const PlayedWrite& w) {
    return w.reg >= 0xB0 && w.reg <= 0xB8 && (w.value & 0x20) != 0;
}

}  // namespace readers

// VGM layout per the VGM format documentation (vgmrips.net): a 0x100-byte header, commands, GD3.
#include "capture/vgm_writer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "capture/capture_bytes.h"

namespace capture {

namespace {

constexpr std::size_t kHeaderBytes = 0x100;  // data right after a full 1.71 header
constexpr std::size_t kEofOffsetAt = 0x04;
constexpr std::size_t kVersionAt = 0x08;
constexpr std::size_t kGd3OffsetAt = 0x14;
constexpr std::size_t kTotalSamplesAt = 0x18;
constexpr std::size_t kDataOffsetAt = 0x34;
constexpr std::size_t kYm3812ClockAt = 0x50;

constexpr std::uint32_t kVersion171 = 0x171;  // BCD
constexpr std::uint32_t kYm3812ClockHz = 3579545;
constexpr std::uint32_t kGd3Version = 0x100;

constexpr std::uint8_t kYm3812Write = 0x5A;
constexpr std::uint8_t kWaitSamples = 0x61;
constexpr std::uint8_t kWait735 = 0x62;    // one 60 Hz frame
constexpr std::uint8_t kWait882 = 0x63;    // one 50 Hz frame
constexpr std::uint8_t kWaitShort = 0x70;  // 0x7n waits n+1 samples
constexpr std::uint8_t kEndOfData = 0x66;

void append32(Bytes& out, std::uint32_t v) {
    out.resize(out.size() + 4);
    put32(out, out.size() - 4, v);
}

// A field that points at `target` holds the distance from the field itself.
void putRelative(Bytes& out, std::size_t field_at, std::size_t target) {
    put32(out, field_at, static_cast<std::uint32_t>(target - field_at));
}

std::uint64_t sampleAt(double time_s) { return tickAt(time_s, kVgmRateHz); }

void appendWait(Bytes& out, std::uint64_t samples) {
    while (samples > 0) {
        if (samples <= 16) {
            out.push_back(static_cast<std::uint8_t>(kWaitShort | (samples - 1)));
            return;
        }
        if (samples == 735 || samples == 882) {
            out.push_back(samples == 735 ? kWait735 : kWait882);
            return;
        }
        const std::uint64_t n = std::min<std::uint64_t>(samples, 0xFFFF);
        out.push_back(kWaitSamples);
        out.push_back(static_cast<std::uint8_t>(n));
        out.push_back(static_cast<std::uint8_t>(n >> 8));
        samples -= n;
    }
}

void appendUtf16(Bytes& out, const std::string& text) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        out.push_back(u < 0x80 ? u : static_cast<std::uint8_t>('?'));
        out.push_back(0);
    }
    out.push_back(0);
    out.push_back(0);
}

}  // namespace

std::vector<std::uint8_t> encodeVgm(std::span<const TimedWrite> writes, double end_s,
                                    const VgmTags& tags) {
    Bytes out(kHeaderBytes, 0);
    out[0] = 'V';
    out[1] = 'g';
    out[2] = 'm';
    out[3] = ' ';
    put32(out, kVersionAt, kVersion171);
    putRelative(out, kDataOffsetAt, kHeaderBytes);
    put32(out, kYm3812ClockAt, kYm3812ClockHz);  // the YMF262 clock at 0x5C stays 0: an OPL2 file

    std::uint64_t emitted = 0;
    for (const TimedWrite& w : writes) {
        const std::uint64_t due = std::max(sampleAt(w.time_s), emitted);
        appendWait(out, due - emitted);
        emitted = due;
        out.push_back(kYm3812Write);
        out.push_back(w.reg);
        out.push_back(w.value);
    }
    const std::uint64_t end = std::max(sampleAt(end_s), emitted);
    // The header counts samples in 32 bits: past that (27 hours) it would wrap to a wrong length.
    if (end > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("too long for a VGM file (more than 2^32 samples)");
    appendWait(out, end - emitted);
    out.push_back(kEndOfData);
    put32(out, kTotalSamplesAt, static_cast<std::uint32_t>(end));

    putRelative(out, kGd3OffsetAt, out.size());
    out.insert(out.end(), {'G', 'd', '3', ' '});
    append32(out, kGd3Version);
    const std::size_t length_at = out.size();
    append32(out, 0);
    // GD3 writes a date as "2026/12/08".
    std::string date = tags.date;
    std::replace(date.begin(), date.end(), '-', '/');
    // Title, game, system, author (each English then Japanese), date, converter, notes.
    const std::string strings[] = {tags.title, "", "",   "",           tags.system, "",
                                   "",         "", date, tags.program, ""};
    for (const std::string& s : strings) appendUtf16(out, s);
    put32(out, length_at, static_cast<std::uint32_t>(out.size() - length_at - 4));

    putRelative(out, kEofOffsetAt, out.size());
    return out;
}

}  // namespace capture

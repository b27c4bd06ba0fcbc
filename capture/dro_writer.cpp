// DRO v2 as DOSBox writes it: header, codemap, then (code, value) pairs with delays in ms.
#include "capture/dro_writer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "capture/capture_bytes.h"
#include "fm/opl2.h"

namespace capture {

namespace {

constexpr std::size_t kPairCountAt = 0x0C;
constexpr std::size_t kLengthMsAt = 0x10;
constexpr std::size_t kCodemapAt = 0x1A;
constexpr std::uint16_t kVersionMajor = 2;
constexpr std::uint8_t kHardwareOpl2 = 0;
constexpr std::uint8_t kFormatInterleaved = 0;
constexpr std::uint8_t kUncompressed = 0;

constexpr std::uint64_t kShortDelayMaxMs = 256;  // (short, v) waits v+1 ms
constexpr std::uint64_t kLongDelayUnitMs = 256;  // (long, v) waits (v+1) x 256 ms

std::uint64_t msAt(double time_s) { return tickAt(time_s, 1000.0); }

}  // namespace

std::vector<std::uint8_t> encodeDro(std::span<const TimedWrite> writes, double end_s) {
    // Only registers actually written get a code, in the order they are first written.
    std::vector<std::uint8_t> codemap;
    std::array<int, 256> code_of{};
    code_of.fill(-1);
    for (const TimedWrite& w : writes) {
        if (!fm::opl2::hasRegister(w.reg) || code_of[w.reg] >= 0) continue;
        code_of[w.reg] = static_cast<int>(codemap.size());
        codemap.push_back(w.reg);
    }
    // At most 123 codes, so the two delay codes right after them stay below 0x80, where a
    // reader would take them for the second chip.
    const auto short_delay = static_cast<std::uint8_t>(codemap.size());
    const auto long_delay = static_cast<std::uint8_t>(codemap.size() + 1);

    Bytes out(kCodemapAt + codemap.size(), 0);
    const char magic[] = "DBRAWOPL";
    std::copy(magic, magic + 8, out.begin());
    out[0x08] = static_cast<std::uint8_t>(kVersionMajor);  // then 0 for minor, both 16 bits
    out[0x14] = kHardwareOpl2;
    out[0x15] = kFormatInterleaved;
    out[0x16] = kUncompressed;
    out[0x17] = short_delay;
    out[0x18] = long_delay;
    out[0x19] = static_cast<std::uint8_t>(codemap.size());
    std::copy(codemap.begin(), codemap.end(), out.begin() + kCodemapAt);

    std::uint64_t pairs = 0;
    auto pair = [&](std::uint8_t code, std::uint8_t value) {
        out.push_back(code);
        out.push_back(value);
        ++pairs;
    };
    auto delay = [&](std::uint64_t ms) {
        while (ms > kShortDelayMaxMs) {
            const std::uint64_t units = std::min<std::uint64_t>(ms / kLongDelayUnitMs, 256);
            pair(long_delay, static_cast<std::uint8_t>(units - 1));
            ms -= units * kLongDelayUnitMs;
        }
        if (ms > 0) pair(short_delay, static_cast<std::uint8_t>(ms - 1));
    };

    std::uint64_t emitted_ms = 0;
    for (const TimedWrite& w : writes) {
        if (code_of[w.reg] < 0) continue;
        const std::uint64_t due_ms = std::max(msAt(w.time_s), emitted_ms);
        delay(due_ms - emitted_ms);
        emitted_ms = due_ms;
        pair(static_cast<std::uint8_t>(code_of[w.reg]), w.value);
    }
    const std::uint64_t end_ms = std::max(msAt(end_s), emitted_ms);
    delay(end_ms - emitted_ms);

    // The header counts both in 32 bits: past that they would wrap to a wrong length.
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
    if (end_ms > kMax || pairs > kMax)
        throw std::length_error("too long for a DRO file (more than 2^32 ms)");
    put32(out, kPairCountAt, static_cast<std::uint32_t>(pairs));
    put32(out, kLengthMsAt, static_cast<std::uint32_t>(end_ms));
    return out;
}

}  // namespace capture

// DRO captures read back by a reader of our own: header, kept writes, their timing, long delays.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>
#include <vector>

#include "capture/capture_port.h"
#include "capture_readers.h"
#include "chip_fakes.h"

namespace {

struct Captured {
    readers::Dro dro;
    std::vector<fakes::Write> port_writes;
};

Captured captureOf(const std::function<void(fm::PortIo&, double&)>& play, double end_s = 0.0) {
    readers::ScratchDir dir;
    fakes::RecordingPort chip;
    double now_s = 0.0;
    fm::CapturePort port(
        chip, dir.path() / "s.DRO", [&] { return now_s; }, "vesk 1.0.0");
    play(port, now_s);
    port.finish(end_s);
    return {readers::readDro(readers::readFile(dir.path() / "s.DRO")), chip.writes()};
}

}  // namespace

TEST(DroCapture, HeaderIsVersion2ForOneOpl2WithDelayCodesOutsideTheCodemap) {
    const readers::Dro d = captureOf(readers::playSong).dro;
    EXPECT_EQ(d.version_major, 2u);
    EXPECT_EQ(d.version_minor, 0u);
    EXPECT_EQ(d.hardware, 0);
    EXPECT_EQ(d.format, 0);
    EXPECT_EQ(d.compression, 0);
    EXPECT_LE(d.codemap.size(), 127u);
    EXPECT_EQ(std::set<int>(d.codemap.begin(), d.codemap.end()).size(), d.codemap.size());
    EXPECT_NE(d.short_delay_code, d.long_delay_code);
    for (int code : {d.short_delay_code, d.long_delay_code}) {
        EXPECT_GE(static_cast<std::size_t>(code), d.codemap.size());
        EXPECT_LT(code, 0x80);  // bit 7 would mean the second chip
    }
}

TEST(DroCapture, KeepsTheWritesToRegistersTheChipHasInOrder) {
    const std::set<int> existing = readers::opl2Registers();
    ASSERT_EQ(existing.size(), 123u);
    const Captured c = captureOf(readers::playSong);
    std::vector<fakes::Write> expected, read;
    for (const fakes::Write& w : c.port_writes)
        if (existing.count(w.reg)) expected.push_back(w);
    for (const auto& w : c.dro.writes) read.push_back({w.reg, w.value});
    EXPECT_EQ(read, expected);
}

TEST(DroCapture, KeyOnsStayWithinOneMillisecondOfTheStepGridForAWholeSong) {
    const Captured c = captureOf(readers::playSong);
    std::vector<readers::PlayedWrite> key_ons;
    for (const auto& w : c.dro.writes)
        if (readers::isKeyOn(w)) key_ons.push_back(w);
    ASSERT_EQ(key_ons.size(), 2u * readers::kSongSteps);
    for (std::size_t i = 0; i < key_ons.size(); ++i) {
        const std::size_t step = i / 2;  // two key-ons a step
        const double grid_ms = static_cast<double>(step) * readers::kStepSeconds * 1000.0;
        EXPECT_LE(std::abs(static_cast<double>(key_ons[i].at) - grid_ms), 1.0) << i;
    }
    EXPECT_EQ(c.dro.length_ms, 67192u);
    EXPECT_EQ(c.dro.ms_played, c.dro.length_ms);
}

TEST(DroCapture, DelaysDoNotAccumulateRoundingError) {
    // Writes every 1.5 ms: rounding each delay on its own would gain half a millisecond a write.
    const Captured c = captureOf([](fm::PortIo& port, double& now_s) {
        for (int i = 0; i < 400; ++i) {
            now_s = i * 0.0015;
            readers::writeReg(port, 0x20, i & 0xFF);
        }
    });
    ASSERT_EQ(c.dro.writes.size(), 400u);
    for (std::size_t i = 0; i < 400; ++i)
        EXPECT_LE(std::abs(static_cast<double>(c.dro.writes[i].at) - 1.5 * static_cast<double>(i)),
                  0.5)
            << i;
}

TEST(DroCapture, LongDelaysAndTheLengthAddUpExactly) {
    // The first write starts the file: the 256 ms before it are left out.
    const std::vector<std::uint64_t> gaps_ms = {256, 257, 512, 513, 65536, 65537, 100000, 1, 0};
    std::uint64_t last_ms = 0;
    const Captured c = captureOf(
        [&](fm::PortIo& port, double& now_s) {
            for (std::uint64_t gap : gaps_ms) {
                last_ms += gap;
                now_s = static_cast<double>(last_ms) / 1000.0;
                readers::writeReg(port, 0xB0, 0x20);
            }
        },
        400.256);
    ASSERT_EQ(c.dro.writes.size(), gaps_ms.size());
    std::uint64_t at_ms = 0;
    EXPECT_EQ(c.dro.writes[0].at, 0u);
    for (std::size_t i = 1; i < gaps_ms.size(); ++i)
        EXPECT_EQ(c.dro.writes[i].at, at_ms += gaps_ms[i]);
    EXPECT_EQ(c.dro.length_ms, 400000u);
    EXPECT_EQ(c.dro.ms_played, 400000u);
}

// VGM captures read back by a reader of our own: header, the writes, their timing, long waits.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "capture/capture_port.h"
#include "capture_readers.h"
#include "chip_fakes.h"

namespace {

constexpr double kRateHz = 44100.0;

struct Captured {
    readers::Vgm vgm;
    std::vector<fakes::Write> port_writes;
    std::size_t file_bytes;
};

// Runs `play` through a capture in front of a recording chip, finishes at end_s, reads it back.
Captured captureOf(const std::function<void(fm::PortIo&, double&)>& play, double end_s = 0.0) {
    readers::ScratchDir dir;
    fakes::RecordingPort chip;
    double now_s = 0.0;
    fm::CapturePort port(
        chip, dir.path() / "s.vgm", [&] { return now_s; }, "vesk 1.0.0");
    play(port, now_s);
    port.finish(end_s);
    const readers::Bytes bytes = readers::readFile(dir.path() / "s.vgm");
    return {readers::readVgm(bytes), chip.writes(), bytes.size()};
}

}  // namespace

TEST(VgmCapture, HeaderDescribesOneOpl2AndTheFileAsWritten) {
    const Captured c = captureOf(readers::playSong);
    EXPECT_EQ(c.vgm.eof_offset, c.file_bytes - 4);
    EXPECT_GE(c.vgm.version, 0x151u);
    for (int shift = 0; shift < 32; shift += 4) EXPECT_LE((c.vgm.version >> shift) & 0xF, 9u);
    EXPECT_GE(c.vgm.data_start, 0x54u);
    EXPECT_EQ(c.vgm.ym3812_clock_hz, 3579545u);
    EXPECT_EQ(c.vgm.ymf262_clock_hz, 0u);
    EXPECT_EQ(c.vgm.gd3, (std::vector<std::string>{"Vesk", "", "", "", "PC, AdLib-compatible OPL2",
                                                   "", "", "", "", "vesk 1.0.0", ""}));
}

TEST(VgmCapture, WritesAreThePortsWritesInOrderAsTheChipTakesThem) {
    const Captured c = captureOf([](fm::PortIo& port, double& now_s) {
        readers::playSong(port, now_s);
        readers::writeReg(port, 0x1A0, 0x1234);  // 8-bit ports: only the low bytes arrive
        readers::writeReg(port, 0x40, -7);
    });
    ASSERT_EQ(c.vgm.writes.size(), c.port_writes.size());
    for (std::size_t i = 0; i < c.port_writes.size(); ++i) {
        EXPECT_EQ(c.vgm.writes[i].reg, c.port_writes[i].reg & 0xFF) << i;
        EXPECT_EQ(c.vgm.writes[i].value, c.port_writes[i].value & 0xFF) << i;
    }
    EXPECT_EQ(c.vgm.writes.back().value, 0xF9);
}

TEST(VgmCapture, KeyOnsStayWithinOneSampleOfTheStepGridForAWholeSong) {
    // 0.908 s is 40042.8 samples: rounding each wait on its own would drift 15 samples.
    const Captured c = captureOf(readers::playSong);
    std::vector<readers::PlayedWrite> key_ons;
    for (const auto& w : c.vgm.writes)
        if (readers::isKeyOn(w)) key_ons.push_back(w);
    ASSERT_EQ(key_ons.size(), 2u * readers::kSongSteps);
    for (std::size_t i = 0; i < key_ons.size(); ++i) {
        const std::size_t step = i / 2;  // two key-ons a step
        const double grid = static_cast<double>(step) * readers::kStepSeconds * kRateHz;
        EXPECT_LE(std::abs(static_cast<double>(key_ons[i].at) - grid), 1.0) << "key-on " << i;
    }
    // Without an end time, the capture ends with its last write: the last step's key-offs.
    EXPECT_EQ(c.vgm.total_samples,
              std::llround(readers::kSongSteps * readers::kStepSeconds * kRateHz));
    EXPECT_EQ(c.vgm.samples_played, c.vgm.total_samples);
}

TEST(VgmCapture, LongAndOddWaitsLandOnTheExactSampleAndRunToTheEnd) {
    // Given a clock that has run 3 s before the first write: the file starts at that write.
    constexpr std::uint64_t kThreeSeconds = std::uint64_t{3} * 44100;
    const std::vector<std::uint64_t> gaps = {kThreeSeconds, 65535, 65536, 131071, 200000, 735,  882,
                                             1470,          16,    17,    1,      0,      65551};
    std::uint64_t last = 0;
    const Captured c = captureOf(
        [&](fm::PortIo& port, double& now_s) {
            for (std::uint64_t gap : gaps) {
                last += gap;
                now_s = static_cast<double>(last) / kRateHz;
                readers::writeReg(port, 0xA0, 1);
            }
        },
        23.0);
    ASSERT_EQ(c.vgm.writes.size(), gaps.size());
    std::uint64_t at = 0;
    EXPECT_EQ(c.vgm.writes[0].at, 0u);
    for (std::size_t i = 1; i < gaps.size(); ++i) EXPECT_EQ(c.vgm.writes[i].at, at += gaps[i]);
    EXPECT_EQ(c.vgm.total_samples, 20u * 44100u);
    EXPECT_EQ(c.vgm.samples_played, c.vgm.total_samples);
}

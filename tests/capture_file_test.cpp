// The capture file: its format from its name, and appearing whole on finish, only then.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

#include "capture/capture_port.h"
#include "capture/dro_writer.h"
#include "capture/vgm_writer.h"
#include "capture_readers.h"
#include "common/run_error.h"
#include "fm/blaster.h"
#include "fm/ports/none_port.h"

namespace {
double noTime() { return 0.0; }
}  // namespace

TEST(CaptureFile, ExtensionChoosesTheFormatInAnyCaseAndRefusesOthers) {
    using F = fm::CaptureFormat;
    const struct {
        const char* name;
        std::optional<F> format;
    } table[] = {{"s.vgm", F::Vgm},           {"S.VGM", F::Vgm},       {"s.Dro", F::Dro},
                 {"s.dro", F::Dro},           {"s.wav", std::nullopt}, {"s.VGZ", F::Vgz},
                 {"s.vgm.txt", std::nullopt}, {"vgm", std::nullopt},   {"s.dro/", std::nullopt}};
    readers::ScratchDir dir;
    fm::NonePort chip;
    for (const auto& row : table) {
        EXPECT_EQ(fm::captureFormatFor(row.name), row.format) << row.name;
        // Without a gzip step a .vgz cannot be written either.
        if (!row.format || row.format == F::Vgz) {
            EXPECT_THROW(fm::CapturePort(chip, dir.path() / row.name, noTime, "vesk"),
                         std::runtime_error)
                << row.name;
        }
    }
    EXPECT_TRUE(dir.entries().empty());
}

TEST(CaptureFile, AppearsOnlyWhenFinishedAndUnderItsOwnName) {
    readers::ScratchDir dir;
    fm::NonePort chip;
    fm::CapturePort port(chip, dir.path() / "s.vgm", noTime, "vesk");
    readers::writeReg(port, 0xB0, 0x20);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "s.vgm"));
    port.finish();
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"s.vgm"});
}

TEST(CaptureFile, UnfinishedCaptureLeavesNothingBehind) {
    readers::ScratchDir dir;
    fm::NonePort chip;
    {
        fm::CapturePort port(chip, dir.path() / "s.dro", noTime, "vesk");
        readers::writeReg(port, 0xB0, 0x20);
    }
    EXPECT_TRUE(dir.entries().empty());
}

TEST(CaptureFile, UnwritablePlaceRaisesAOneLineErrorAtOnce) {
    readers::ScratchDir dir;
    const auto path = dir.path() / "missing" / "s.vgm";
    fm::NonePort chip;
    try {
        fm::CapturePort port(chip, path, noTime, "vesk");
        FAIL() << "no error for " << path;
    } catch (const std::runtime_error& e) {
        const std::string message = e.what();
        EXPECT_EQ(message.rfind("cannot write " + path.string() + ": ", 0), 0u) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
}

TEST(CaptureFile, FinishAfterARunErrorKeepsTheWritesMadeBeforeIt) {
    for (const char* name : {"s.vgm", "s.dro"}) {
        readers::ScratchDir dir;
        fm::NonePort chip;
        fm::CapturePort port(chip, dir.path() / name, noTime, "vesk");
        fm::Blaster blaster(port);
        // Given a fault in the middle of start-up (63 - volume overflows 16 bits)
        try {
            blaster.Blastersetupvoice(common::Int16{1});
            blaster.Blastermodulate(common::Int16{1}, common::Int16{-32768});
            FAIL() << "no overflow";
        } catch (const common::RunError&) {
            port.finish();  // When the shell finishes the capture on its way out
        }
        // Then the file holds the eight voice-setup writes made before it
        const readers::Bytes bytes = readers::readFile(dir.path() / name);
        const auto writes =
            name[2] == 'v' ? readers::readVgm(bytes).writes : readers::readDro(bytes).writes;
        ASSERT_EQ(writes.size(), 8u) << name;
        EXPECT_EQ(writes.front().reg, 0x20);
        EXPECT_EQ(writes.back().reg, 0x83);
    }
}

TEST(CaptureFile, OnlyTheFirstFinishWrites) {
    // The shell may reach finish() on more than one way out.
    readers::ScratchDir dir;
    fm::NonePort chip;
    fm::CapturePort port(chip, dir.path() / "s.vgm", noTime, "vesk");
    readers::writeReg(port, 0xB0, 0x20);
    port.finish();
    const readers::Bytes first = readers::readFile(dir.path() / "s.vgm");
    readers::writeReg(port, 0xB0, 0x00);
    port.finish(10.0);
    EXPECT_EQ(readers::readFile(dir.path() / "s.vgm"), first);
}

TEST(CaptureFile, LengthsTheHeaderCannotHoldAreRefusedNotWrapped) {
    // Both headers count the length in 32 bits: VGM in 44,100 Hz samples, DRO in ms.
    constexpr double kMax = 4294967295.0;
    const std::vector<capture::TimedWrite> none;
    EXPECT_EQ(readers::readVgm(capture::encodeVgm(none, kMax / 44100, {})).total_samples,
              4294967295u);
    EXPECT_THROW(capture::encodeVgm(none, (kMax + 1) / 44100, {}), std::length_error);
    EXPECT_EQ(readers::readDro(capture::encodeDro(none, kMax / 1000)).length_ms, 4294967295u);
    EXPECT_THROW(capture::encodeDro(none, (kMax + 1) / 1000), std::length_error);

    // A capture that cannot be written whole leaves the file it would have replaced alone.
    readers::ScratchDir dir;
    std::ofstream(dir.path() / "s.vgm") << "old";
    fm::NonePort chip;
    fm::CapturePort port(chip, dir.path() / "s.vgm", noTime, "vesk");
    EXPECT_THROW(port.finish((kMax + 1) / 44100), std::runtime_error);
    EXPECT_EQ(readers::readFile(dir.path() / "s.vgm"), (readers::Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"s.vgm"});
}

// The capture tests' scratch folders and a whole song's writes, beside the format readers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "fm/blaster.h"
#include "fm/port_io.h"
#include "tests/readers/capture_readers.h"

namespace readers {

// A directory of its own for each test, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        path_ =
            std::filesystem::temp_directory_path() /
            ("vesk-" + std::string(test->name()) + "-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_))
            names.push_back(e.path().filename().string());
        return names;
    }

private:
    std::filesystem::path path_;
};

inline void writeReg(fm::PortIo& port, int reg, int value) {
    port.out(fm::opl2::kAddressPort, static_cast<std::int16_t>(reg));
    port.out(fm::opl2::kDataPort, static_cast<std::int16_t>(value));
}

inline constexpr double kStepSeconds = 0.908;
inline constexpr int kSongSteps = 74;

// A whole song's writes at render-like times: start-up at 0, then each step's two key-ons at
// k x 0.908 s and its two key-offs as it ends. `now_s` is the capture's time source.
inline void playSong(fm::PortIo& port, double& now_s) {
    now_s = 0.0;
    fm::Blaster blaster(port);
    blaster.Blasterresetcard();
    blaster.BlasterInit();
    for (int k = 0; k < kSongSteps; ++k) {
        now_s = k * kStepSeconds;
        writeReg(port, 0xA0, 0x41 + k);
        writeReg(port, 0xB0, 0x20 | (4 << 2) | 1);  // key-on, block 4, F-number bits 8-9
        writeReg(port, 0xA1, 0x81);
        writeReg(port, 0xB1, 0x20 | (3 << 2) | 2);
        now_s = (k + 1) * kStepSeconds;
        writeReg(port, 0xB0, 0);
        writeReg(port, 0xB1, 0);
    }
}

}  // namespace readers

// An emulated YM3812 core from AdPlug, run at the chip's own sample rate, giving mono samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace fm {

// The chip's 14.318 MHz / 4 clock over 72 cycles per sample: every core is exact in pitch here.
inline constexpr int kNativeRateHz = 49716;

enum class Emulator { Nuked, Mame, Dosbox };

std::optional<Emulator> emulatorNamed(std::string_view name);
const char* emulatorName(Emulator emulator);

class OplEmulator {
public:
    virtual ~OplEmulator() = default;
    virtual void write(std::uint8_t reg, std::uint8_t value) = 0;
    // Produces the next `frames` samples at kNativeRateHz.
    virtual void generate(std::int16_t* mono, std::size_t frames) = 0;
};

std::unique_ptr<OplEmulator> makeOplEmulator(Emulator emulator);

}  // namespace fm

// An emulated YM3812 core from AdPlug, run at the chip's own sample rate, giving mono samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "fm/opl2.h"

namespace sound {

enum class Emulator { Nuked, Mame, Dosbox };

std::optional<Emulator> emulatorNamed(std::string_view name);
const char* emulatorName(Emulator emulator);
// Native samples from one register write to the next that the core takes in. Nuked keeps
// writes that come closer in a buffer and applies them this far apart, as a real chip needs
// time after each write; the other cores apply every write at once (0).
int writeSpacingNativeSamples(Emulator emulator);

class OplCore {
public:
    virtual ~OplCore() = default;
    virtual void write(std::uint8_t reg, std::uint8_t value) = 0;
    // Produces the next `frames` samples at fm::opl2::kNativeRateHz.
    virtual void generate(std::int16_t* mono, std::size_t frames) = 0;
};

std::unique_ptr<OplCore> makeOplCore(Emulator emulator);

}  // namespace sound

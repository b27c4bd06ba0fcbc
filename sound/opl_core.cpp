// The three AdPlug cores behind one small interface; each gets the setup it needs to act as an
// OPL2.
#include "sound/opl_core.h"

#include <adplug/emuopl.h>
#include <adplug/nemuopl.h>
#include <adplug/nukedopl.h>
#include <adplug/wemuopl.h>

#include <algorithm>
#include <array>

#include "common/name_table.h"

namespace sound {

namespace {

// AdPlug's cores fill a buffer of any length; ours are asked for short runs between writes.
constexpr std::size_t kScratchFrames = 1024;

// Nuked always writes stereo. In OPL2 mode both channels carry the same signal, the right one
// sample behind the left, so the left channel alone is the chip's mono output; averaging the
// two would only blur the top octave.
class NukedEmulator final : public OplCore {
public:
    NukedEmulator() : core_(fm::opl2::kNativeRateHz) {}
    void write(std::uint8_t reg, std::uint8_t value) override { core_.write(reg, value); }
    void generate(std::int16_t* mono, std::size_t frames) override {
        while (frames > 0) {
            const std::size_t n = std::min(frames, kScratchFrames);
            core_.update(stereo_.data(), static_cast<int>(n));
            for (std::size_t i = 0; i < n; ++i) mono[i] = stereo_[2 * i];
            mono += n;
            frames -= n;
        }
    }

private:
    CNemuopl core_;
    std::array<short, 2 * kScratchFrames> stereo_{};
};

// Without settype(TYPE_OPL2) the MAME core runs as two chips, the second one silent. As one chip
// it puts the same notes out at twice the level of the Nuked and DOSBox cores, 6 dB louder
// (adplay plays the same core at their level), so its samples are halved: switching cores
// keeps the loudness. Halving rounds toward zero, the same for both signs.
class MameEmulator final : public OplCore {
public:
    MameEmulator() : core_(fm::opl2::kNativeRateHz, true, false) { core_.settype(Copl::TYPE_OPL2); }
    void write(std::uint8_t reg, std::uint8_t value) override { core_.write(reg, value); }
    void generate(std::int16_t* mono, std::size_t frames) override {
        core_.update(mono, static_cast<int>(frames));
        for (std::size_t i = 0; i < frames; ++i) mono[i] = static_cast<std::int16_t>(mono[i] / 2);
    }

private:
    CEmuopl core_;
};

class DosboxEmulator final : public OplCore {
public:
    DosboxEmulator() : core_(fm::opl2::kNativeRateHz, true, false) {}
    void write(std::uint8_t reg, std::uint8_t value) override { core_.write(reg, value); }
    void generate(std::int16_t* mono, std::size_t frames) override {
        core_.update(mono, static_cast<int>(frames));
    }

private:
    CWemuopl core_;
};

constexpr std::array<common::Named<Emulator>, 3> kNames = {{
    {"nuked", Emulator::Nuked},
    {"mame", Emulator::Mame},
    {"dosbox", Emulator::Dosbox},
}};

}  // namespace

std::optional<Emulator> emulatorNamed(std::string_view name) {
    return common::valueNamed(kNames, name);
}

const char* emulatorName(Emulator emulator) { return common::nameOf(kNames, emulator); }

int writeSpacingNativeSamples(Emulator emulator) {
    return emulator == Emulator::Nuked ? OPL_WRITEBUF_DELAY : 0;
}

std::unique_ptr<OplCore> makeOplCore(Emulator emulator) {
    switch (emulator) {
        case Emulator::Nuked:
            return std::make_unique<NukedEmulator>();
        case Emulator::Mame:
            return std::make_unique<MameEmulator>();
        case Emulator::Dosbox:
            return std::make_unique<DosboxEmulator>();
    }
    return nullptr;
}

}  // namespace sound

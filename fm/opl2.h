// Facts about the YM3812 (OPL2) and the AdLib ports it answers on, each stated once.
#pragma once

#include <cstdint>
#include <optional>

namespace fm::opl2 {

// ---- Ports ----
// An AdLib-compatible card decodes two ports. A write to the first selects a register; a read
// of it returns the status byte. A write to the second stores a value in the selected register.
inline constexpr std::uint16_t kAddressPort = 0x388;
inline constexpr std::uint16_t kDataPort = 0x389;
// The ports are 8 bits wide: of a 16-bit value handed to the port library, only the low byte
// reaches the chip.
inline constexpr int kPortByteMask = 0xFF;

// Status: bit 7 IRQ, bit 6 timer 1 overflow, bit 5 timer 2 overflow. An OPL2 reads bits 2-1
// as 1 (an OPL3 as 0), and there is no busy bit. The timers are never started here, so the
// chip always answers idle.
inline constexpr std::uint8_t kIdleStatus = 0x06;
// Bits 2-1 tell the chips apart: both set on an OPL2, both clear on an OPL3. An ISA bus with
// nothing on it pulls every line high, so an empty slot reads 0xFF.
inline constexpr std::uint8_t kChipKindBits = 0x06;
inline constexpr std::uint8_t kOpl3KindBits = 0x00;
inline constexpr std::uint8_t kEmptyBus = 0xFF;
inline constexpr std::uint8_t kTimerFlags = 0xE0;   // IRQ, timer 1 overflow, timer 2 overflow
inline constexpr std::uint8_t kTimer1Fired = 0xC0;  // IRQ and timer 1, timer 2 masked

// The chip needs about 3.3 us after an address write and 23 us after a data write. On an ISA
// bus one status read takes roughly 0.7-1.5 us, so the delays are counted in reads, not time.
inline constexpr int kReadsAfterAddress = 6;
inline constexpr int kReadsAfterData = 35;

// ---- Clock ----
// The 14.318 MHz / 4 master clock over 72 cycles per sample: the chip's own output rate.
inline constexpr int kNativeRateHz = 49716;

// ---- Registers ----
// Each of the 9 channels has two operators, a modulator and a carrier. Operators are addressed
// by an offset from each per-operator base: offsets 0-5, 8-13 and 16-21 exist, and a channel's
// carrier sits 3 above its modulator.
inline constexpr int kCarrierOffset = 3;
inline constexpr int kTremoloVibratoMultiplier = 0x20;  // AM, VIB, EG-TYP, KSR, MULT
inline constexpr int kLevel = 0x40;                     // key-scale level, attenuation (0 loudest)
inline constexpr int kAttackDecay = 0x60;
inline constexpr int kSustainRelease = 0x80;
inline constexpr int kWaveform = 0xE0;
inline constexpr int kOperatorBanks[] = {kTremoloVibratoMultiplier, kLevel, kAttackDecay,
                                         kSustainRelease, kWaveform};

// The operator offsets come in three runs of eight, six used in each: the modulators of three
// channels, then their carriers. Channel 0 has offsets 0 and 3, channel 3 offsets 8 and 11.
inline constexpr int kOperatorRun = 8;
inline constexpr int kChannelsPerRun = 3;

// Per channel, at base + channel (0-8).
inline constexpr int kChannels = 9;
inline constexpr int kFNumberLow = 0xA0;  // the F-number's low 8 bits
inline constexpr int kKeyOnBlock = 0xB0;  // key-on, block, the F-number's bits 8-9
inline constexpr int kFeedbackConnection = 0xC0;
inline constexpr int kChannelBanks[] = {kFNumberLow, kKeyOnBlock, kFeedbackConnection};

// Global registers: test, the two timers, timer control, CSM/keyboard split, rhythm.
inline constexpr int kTestRegister = 0x01;
inline constexpr int kTimer1Count = 0x02;  // counts up from here every 80 us, flags at overflow
inline constexpr int kTimer2Count = 0x03;  // the same every 320 us
inline constexpr int kTimerControl = 0x04;
inline constexpr int kKeyboardSplit = 0x08;  // bit 7 CSM mode, bit 6 note select
inline constexpr int kRhythm = 0xBD;         // AM depth, vibrato depth, rhythm mode, drum keys
inline constexpr int kGlobalRegisters[] = {kTestRegister, kTimer1Count,   kTimer2Count,
                                           kTimerControl, kKeyboardSplit, kRhythm};

// Timer control (register 4): bit 7 resets the flags, bits 6-5 mask timers 1 and 2 out of the
// status, bits 1-0 start timers 2 and 1.
inline constexpr int kMaskBothTimers = 0x60;
inline constexpr int kResetTimerFlags = 0x80;
inline constexpr int kStartTimer1Only = 0x21;  // timer 1 running, timer 2 masked
inline constexpr int kTimer1TickUs = 80;

// The fields of the per-operator and per-channel registers, as masks within each byte.
// 0x20 + op: tremolo, vibrato, sustaining envelope, key-scale rate, frequency multiplier.
inline constexpr int kTremoloBit = 0x80;
inline constexpr int kVibratoBit = 0x40;
inline constexpr int kSustainingBit = 0x20;
inline constexpr int kKeyScaleRateBit = 0x10;
inline constexpr int kMultiplierMask = 0x0F;
// 0x40 + op: key-scale level in bits 6-7, attenuation in bits 0-5.
inline constexpr int kKeyScaleLevelShift = 6;
inline constexpr int kAttenuationMask = 0x3F;
// 0x60 + op and 0x80 + op: attack or sustain level in the high nibble, decay or release in the
// low one.
inline constexpr int kHighNibbleShift = 4;
inline constexpr int kNibbleMask = 0x0F;
// 0xE0 + op: an OPL2 has four waveforms.
inline constexpr int kWaveformMask = 0x03;
// 0xC0 + ch: feedback in bits 1-3, bit 0 set for additive (parallel) operators.
inline constexpr int kFeedbackShift = 1;
inline constexpr int kFeedbackMask = 0x07;
inline constexpr int kConnectionBit = 0x01;
// 0xBD: AM depth, vibrato depth, rhythm mode, then the bass drum, snare, tom-tom, cymbal and
// hi-hat keys. 0x08: bit 6 note select (the keyboard split).
inline constexpr int kAmDepthBit = 0x80;
inline constexpr int kVibratoDepthBit = 0x40;
inline constexpr int kRhythmModeBit = 0x20;
inline constexpr int kBassDrumBit = 0x10;
inline constexpr int kSnareBit = 0x08;
inline constexpr int kTomTomBit = 0x04;
inline constexpr int kCymbalBit = 0x02;
inline constexpr int kHiHatBit = 0x01;
inline constexpr int kNoteSelectBit = 0x40;

// The key-on register 0xB0 + channel: bit 5 keys the channel on, bits 2-4 hold the block
// (octave) and bits 0-1 the F-number's bits 8-9. Writing 0 keys off and clears the rest.
inline constexpr int kKeyOnBit = 0x20;
inline constexpr int kBlockMultiplier = 4;       // block << 2
inline constexpr int kFNumberHighBits = 0x300;   // F-number bits 8-9 ...
inline constexpr int kFNumberHighDivisor = 256;  // ... moved down to bits 0-1
inline constexpr int kFNumberLowBits = 0xFF;

// Whether the chip has a register at this address; a write anywhere else has no effect. An
// OPL2 has 123 of them.
constexpr bool hasRegister(int reg) {
    for (int global : kGlobalRegisters)
        if (reg == global) return true;
    for (int bank : kChannelBanks)
        if (reg >= bank && reg < bank + kChannels) return true;
    for (int bank : kOperatorBanks) {
        const int offset = reg - bank;
        // Three runs of six operators, eight offsets apart.
        if (offset >= 0 && offset < 22 && offset % 8 < 6) return true;
    }
    return false;
}

// ---- From port accesses to register writes ----

struct RegisterWrite {
    std::uint8_t reg = 0;
    std::uint8_t value = 0;
    friend bool operator==(const RegisterWrite&, const RegisterWrite&) = default;
};

// The card's view of the port stream: a write to the address port latches the register, a
// write to the data port stores its value there. Status reads change nothing.
class PortDecoder {
public:
    // The register write this port write completes, if any.
    std::optional<RegisterWrite> out(std::uint16_t port, std::int16_t value) {
        const auto byte = static_cast<std::uint8_t>(value & kPortByteMask);
        if (port == kAddressPort) selected_ = byte;
        if (port == kDataPort) return RegisterWrite{selected_, byte};
        return std::nullopt;
    }

private:
    std::uint8_t selected_ = 0;
};

}  // namespace fm::opl2

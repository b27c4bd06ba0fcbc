// Every chip operation is a fixed sequence of single register writes.
#include "fm/blaster.h"

namespace fm {

namespace {
// Start-up clears every address from 1 up to here, whether the chip has a register there or not.
constexpr Int16 kLastRegister{kLastResetRegister};

// Register bases. The modulator's block sits at op, the carrier's kCarrierOffset above it.
constexpr Int16 kModulatorFlags{opl2::kTremoloVibratoMultiplier};
constexpr Int16 kModulatorLevel{opl2::kLevel};
constexpr Int16 kModulatorAttackDecay{opl2::kAttackDecay};
constexpr Int16 kModulatorSustainRelease{opl2::kSustainRelease};
constexpr Int16 kCarrierFlags{opl2::kTremoloVibratoMultiplier + opl2::kCarrierOffset};
constexpr Int16 kCarrierLevel{opl2::kLevel + opl2::kCarrierOffset};
constexpr Int16 kCarrierAttackDecay{opl2::kAttackDecay + opl2::kCarrierOffset};
constexpr Int16 kCarrierSustainRelease{opl2::kSustainRelease + opl2::kCarrierOffset};

// Attenuation runs from 0 (loudest) to 63; a level is set as 63 minus a volume.
constexpr Int16 kLoudest{63};
}  // namespace

Int16 keyOnByte(Int16 block, Int16 fnumber) {
    // The block is shifted without masking.
    return ((fnumber & Int16{opl2::kFNumberHighBits}) / Int16{opl2::kFNumberHighDivisor}) |
           (block * Int16{opl2::kBlockMultiplier}) | Int16{opl2::kKeyOnBit};
}

void Blaster::Blasterwritereg(Int16 register_, Int16 nByte) {
    port_.out(opl2::kAddressPort, register_.value());
    for (int i = 0; i < opl2::kReadsAfterAddress; ++i) port_.in(opl2::kAddressPort);
    port_.out(opl2::kDataPort, nByte.value());
    for (int i = 0; i < opl2::kReadsAfterData; ++i) port_.in(opl2::kAddressPort);
}

void Blaster::Blasterresetcard() {
    // Register 0 is not a register of the chip; it is never written.
    for (Int16 r{1}; r <= kLastRegister; r = r + Int16{1}) Blasterwritereg(r, Int16{0});
}

Int16 Blaster::Blastervoicetoreg(Int16 Voice) {
    // Channels come in groups of three whose operators are spaced 8 apart:
    // voices 1-3 at 0-2, 4-6 at 8-10, 7-9 at 16-18. Out-of-range voices are not checked.
    if (Voice <= Int16{3})
        OperatorBase = Int16{-1};
    else if (Voice <= Int16{6})
        OperatorBase = Int16{4};
    else
        OperatorBase = Int16{9};
    return Voice + OperatorBase;
}

void Blaster::Blastersetupvoice(Int16 Voice) {
    // Multiplier 1, no flags; modulator quiet (63), carrier loudest (0); attack 15, decay 0;
    // sustain level 7, release 7. The offset is recomputed for each write.
    Blasterwritereg(kModulatorFlags + Blastervoicetoreg(Voice), Int16{0x01});
    Blasterwritereg(kModulatorLevel + Blastervoicetoreg(Voice), Int16{0x3F});
    Blasterwritereg(kModulatorAttackDecay + Blastervoicetoreg(Voice), Int16{0xF0});
    Blasterwritereg(kModulatorSustainRelease + Blastervoicetoreg(Voice), Int16{0x77});
    Blasterwritereg(kCarrierFlags + Blastervoicetoreg(Voice), Int16{0x01});
    Blasterwritereg(kCarrierLevel + Blastervoicetoreg(Voice), Int16{0x00});
    Blasterwritereg(kCarrierAttackDecay + Blastervoicetoreg(Voice), Int16{0xF0});
    Blasterwritereg(kCarrierSustainRelease + Blastervoicetoreg(Voice), Int16{0x77});
}

void Blaster::Blastermodulate(Int16 Voice, Int16 volume) {
    // Unclamped: a volume above 63 goes negative, below 0 reaches the key-scale bits.
    Blasterwritereg(kModulatorLevel + Blastervoicetoreg(Voice), kLoudest - volume);
}

void Blaster::Blastervolume(Int16 Voice, Int16 volume) {
    Blasterwritereg(kCarrierLevel + Blastervoicetoreg(Voice), kLoudest - volume);
}

void Blaster::Blastervoiceoff(Int16 Voice) {
    // Writing 0 clears key-on together with the block and the F-number's high bits.
    Blasterwritereg(kKeyOnBeforeVoice1 + Voice, Int16{0});
}

void Blaster::BlasterInit() {
    for (Int16 v{1}; v <= Int16{5}; v = v + Int16{1}) Blastersetupvoice(v);
    Blastermodulate(Int16{1}, Int16{40});
    Blastermodulate(Int16{2}, Int16{45});
    Blastervolume(Int16{2}, Int16{45});
    Blastermodulate(Int16{3}, Int16{20});
    Blastervolume(Int16{3}, Int16{53});
    Blastervolume(Int16{4}, Int16{55});
    Blastermodulate(Int16{5}, Int16{63});
}

}  // namespace fm

// Every chip operation is a fixed sequence of single register writes.
#include "fm/blaster.h"

namespace fm {

namespace {
// The OPL2 needs about 3.3 us after an address write and 23 us after a data write. On an ISA
// bus one status read takes roughly 0.7-1.5 us, so the delays are counted in reads, not time.
constexpr int kReadsAfterAddress = 6;
constexpr int kReadsAfterData = 35;

constexpr Int16 kLastRegister{0xF5};

// Register bases. The modulator's block sits at op, the carrier's 3 above it.
constexpr Int16 kModulatorFlags{0x20};
constexpr Int16 kModulatorLevel{0x40};
constexpr Int16 kModulatorAttackDecay{0x60};
constexpr Int16 kModulatorSustainRelease{0x80};
constexpr Int16 kCarrierFlags{0x23};
constexpr Int16 kCarrierLevel{0x43};
constexpr Int16 kCarrierAttackDecay{0x63};
constexpr Int16 kCarrierSustainRelease{0x83};
constexpr Int16 kKeyOnBeforeVoice1{0xAF};  // 0xB0 + channel, channel = voice - 1

constexpr Int16 kLoudest{63};
}  // namespace

void Blaster::Blasterwritereg(Int16 register_, Int16 nByte) {
    port_.out(kAddressPort, register_.value());
    for (int i = 0; i < kReadsAfterAddress; ++i) port_.in(kAddressPort);
    port_.out(kDataPort, nByte.value());
    for (int i = 0; i < kReadsAfterData; ++i) port_.in(kAddressPort);
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

// The FM chip driver: register writes with the chip's delays, reset, voice programming, levels.
#pragma once

#include "common/int16.h"
#include "fm/opl2.h"
#include "fm/port_io.h"

namespace fm {

using common::Int16;

// Start-up's register writes: Blasterresetcard clears registers 1 to 0xF5, one write each, and
// BlasterInit programs five voices (eight registers each), then seven of their levels.
inline constexpr int kLastResetRegister = 0xF5;
inline constexpr int kStartUpWrites = kLastResetRegister + 5 * 8 + 7;

// Voices are numbered from 1, channels from 0: a voice's channel registers sit at base - 1 + voice.
inline constexpr Int16 kFNumberBeforeVoice1{opl2::kFNumberLow - 1};
inline constexpr Int16 kKeyOnBeforeVoice1{opl2::kKeyOnBlock - 1};

// The byte for the key-on register: key-on, the block, and the F-number's bits 8-9.
Int16 keyOnByte(Int16 block, Int16 fnumber);

class Blaster {
public:
    explicit Blaster(PortIo& port) : port_(port) {}

    // `register` is a C++ keyword, hence the trailing underscore.
    void Blasterwritereg(Int16 register_, Int16 nByte);
    void Blasterresetcard();
    Int16 Blastervoicetoreg(Int16 Voice);
    void Blastersetupvoice(Int16 Voice);
    void Blastermodulate(Int16 Voice, Int16 volume);
    void Blastervolume(Int16 Voice, Int16 volume);
    void Blastervoiceoff(Int16 Voice);
    void BlasterInit();

    // Scratch left behind by Blastervoicetoreg; nothing else reads it.
    Int16 OperatorBase;

private:
    PortIo& port_;
};

}  // namespace fm

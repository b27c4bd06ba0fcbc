// A chip behind a driver that takes operator settings, notes and parameters rather than register
// writes: Linux's OPL device (ALSA hwdep, app/platform or sound/ has the real one).
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "fm/opl2.h"
#include "fm/port_io.h"

namespace fm {

// One operator of one channel, as the driver sets it: every field of the operator's registers
// 0x20, 0x40, 0x60, 0x80 and 0xE0, and of its channel's 0xC0, which each setting rewrites.
struct OperatorSettings {
    std::uint8_t op = 0;     // 0 the modulator, 1 the carrier
    std::uint8_t voice = 0;  // the channel, 0-8
    std::uint8_t am = 0;
    std::uint8_t vibrato = 0;
    std::uint8_t do_sustain = 0;
    std::uint8_t kbd_scale = 0;
    std::uint8_t harmonic = 0;     // the frequency multiplier
    std::uint8_t scale_level = 0;  // key-scale level
    std::uint8_t volume = 0;       // 63 minus the attenuation
    std::uint8_t attack = 0;
    std::uint8_t decay = 0;
    std::uint8_t sustain = 0;
    std::uint8_t release = 0;
    std::uint8_t feedback = 0;
    std::uint8_t connection = 0;
    std::uint8_t left = 0;  // an OPL3's outputs; an OPL2 has none
    std::uint8_t right = 0;
    std::uint8_t waveform = 0;
};

// A channel's registers 0xA0 and 0xB0, which the driver writes together.
struct NoteSettings {
    std::uint8_t voice = 0;
    std::uint8_t octave = 0;  // the block
    std::uint16_t fnum = 0;
    std::uint8_t key_on = 0;
};

// Registers 0x08 and 0xBD, which the driver writes together.
struct ChipParams {
    std::uint8_t am_depth = 0;
    std::uint8_t vib_depth = 0;
    std::uint8_t kbd_split = 0;
    std::uint8_t rhythm = 0;
    std::uint8_t bass = 0;
    std::uint8_t snare = 0;
    std::uint8_t tomtom = 0;
    std::uint8_t cymbal = 0;
    std::uint8_t hihat = 0;
};

// The driver's three calls that carry registers. Each raises common::RunError (DeviceLost)
// when the driver refuses it.
class OplDevice {
public:
    virtual ~OplDevice() = default;
    virtual void setVoice(const OperatorSettings& settings) = 0;
    virtual void playNote(const NoteSettings& note) = 0;
    virtual void setParams(const ChipParams& params) = 0;
};

// Keeps a copy of every register written, and after each write sends the call that carries
// that register, filled in from the copy. The driver keeps the test register and the timers
// (0x01-0x04) to itself and has no CSM mode (0x08 bit 7): those writes go no further. The
// driver paces the chip itself, so status reads answer as an idle OPL2 without reaching it.
class OplDevicePort final : public PortIo {
public:
    explicit OplDevicePort(std::unique_ptr<OplDevice> device) : device_(std::move(device)) {}

    void out(std::uint16_t port, std::int16_t value) override;
    std::uint8_t in(std::uint16_t) override { return opl2::kIdleStatus; }

private:
    // Each call's fields, from the copy.
    OperatorSettings operatorSettings(int channel, int op) const;
    NoteSettings noteSettings(int channel) const;
    ChipParams chipParams() const;

    void send(opl2::RegisterWrite write);
    std::uint8_t reg(int address) const { return registers_[static_cast<std::size_t>(address)]; }

    std::unique_ptr<OplDevice> device_;
    opl2::PortDecoder decoder_;
    std::array<std::uint8_t, 256> registers_{};
};

}  // namespace fm

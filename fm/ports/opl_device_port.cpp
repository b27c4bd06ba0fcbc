// From register writes to the OPL driver's calls, through a copy of the chip's registers.
#include "fm/ports/opl_device_port.h"

#include <optional>

namespace fm {

namespace {

std::uint8_t bit(std::uint8_t value, int mask) { return (value & mask) != 0 ? 1 : 0; }
std::uint8_t field(std::uint8_t value, int shift, int mask) {
    return static_cast<std::uint8_t>((value >> shift) & mask);
}

// Where a register sits: an operator (channel and which of its two), a channel, or the chip.
struct Slot {
    enum class Kind { Operator, Note, Channel, Params, None } kind = Kind::None;
    int channel = 0;
    int op = 0;
};

Slot slotOf(int reg) {
    if (!opl2::hasRegister(reg)) return {};
    for (int base : opl2::kOperatorBanks) {
        const int offset = reg - base;
        if (offset < 0 || offset >= opl2::kOperatorRun * opl2::kChannelsPerRun) continue;
        const int in_run = offset % opl2::kOperatorRun;
        return {Slot::Kind::Operator,
                offset / opl2::kOperatorRun * opl2::kChannelsPerRun + in_run % opl2::kCarrierOffset,
                in_run / opl2::kCarrierOffset};
    }
    for (int base : {opl2::kFNumberLow, opl2::kKeyOnBlock})
        if (reg >= base && reg < base + opl2::kChannels) return {Slot::Kind::Note, reg - base, 0};
    if (reg >= opl2::kFeedbackConnection && reg < opl2::kFeedbackConnection + opl2::kChannels)
        return {Slot::Kind::Channel, reg - opl2::kFeedbackConnection, 0};
    if (reg == opl2::kKeyboardSplit || reg == opl2::kRhythm) return {Slot::Kind::Params, 0, 0};
    return {};  // the test register and the timers: the driver's own
}

int operatorOffset(int channel, int op) {
    return channel / opl2::kChannelsPerRun * opl2::kOperatorRun + channel % opl2::kChannelsPerRun +
           op * opl2::kCarrierOffset;
}

}  // namespace

OperatorSettings OplDevicePort::operatorSettings(int channel, int op) const {
    const int offset = operatorOffset(channel, op);
    const std::uint8_t flags = reg(opl2::kTremoloVibratoMultiplier + offset);
    const std::uint8_t level = reg(opl2::kLevel + offset);
    const std::uint8_t attack_decay = reg(opl2::kAttackDecay + offset);
    const std::uint8_t sustain_release = reg(opl2::kSustainRelease + offset);
    const std::uint8_t connection = reg(opl2::kFeedbackConnection + channel);
    OperatorSettings s;
    s.op = static_cast<std::uint8_t>(op);
    s.voice = static_cast<std::uint8_t>(channel);
    s.am = bit(flags, opl2::kTremoloBit);
    s.vibrato = bit(flags, opl2::kVibratoBit);
    s.do_sustain = bit(flags, opl2::kSustainingBit);
    s.kbd_scale = bit(flags, opl2::kKeyScaleRateBit);
    s.harmonic = field(flags, 0, opl2::kMultiplierMask);
    // The driver takes a volume where the chip has an attenuation.
    s.scale_level = field(level, opl2::kKeyScaleLevelShift, 0x03);
    s.volume = static_cast<std::uint8_t>(opl2::kAttenuationMask - (level & opl2::kAttenuationMask));
    s.attack = field(attack_decay, opl2::kHighNibbleShift, opl2::kNibbleMask);
    s.decay = field(attack_decay, 0, opl2::kNibbleMask);
    s.sustain = field(sustain_release, opl2::kHighNibbleShift, opl2::kNibbleMask);
    s.release = field(sustain_release, 0, opl2::kNibbleMask);
    s.feedback = field(connection, opl2::kFeedbackShift, opl2::kFeedbackMask);
    s.connection = bit(connection, opl2::kConnectionBit);
    // An OPL3 sounds a channel only on the outputs its 0xC0 turns on; an OPL2 has one output,
    // and the driver leaves these out for it.
    s.left = 1;
    s.right = 1;
    s.waveform = field(reg(opl2::kWaveform + offset), 0, opl2::kWaveformMask);
    return s;
}

NoteSettings OplDevicePort::noteSettings(int channel) const {
    const std::uint8_t key_on = reg(opl2::kKeyOnBlock + channel);
    NoteSettings n;
    n.voice = static_cast<std::uint8_t>(channel);
    n.octave = static_cast<std::uint8_t>(key_on / opl2::kBlockMultiplier & 0x07);
    n.fnum =
        static_cast<std::uint16_t>(reg(opl2::kFNumberLow + channel) |
                                   (key_on * opl2::kFNumberHighDivisor & opl2::kFNumberHighBits));
    n.key_on = bit(key_on, opl2::kKeyOnBit);
    return n;
}

ChipParams OplDevicePort::chipParams() const {
    const std::uint8_t rhythm = reg(opl2::kRhythm);
    ChipParams p;
    p.am_depth = bit(rhythm, opl2::kAmDepthBit);
    p.vib_depth = bit(rhythm, opl2::kVibratoDepthBit);
    p.rhythm = bit(rhythm, opl2::kRhythmModeBit);
    p.bass = bit(rhythm, opl2::kBassDrumBit);
    p.snare = bit(rhythm, opl2::kSnareBit);
    p.tomtom = bit(rhythm, opl2::kTomTomBit);
    p.cymbal = bit(rhythm, opl2::kCymbalBit);
    p.hihat = bit(rhythm, opl2::kHiHatBit);
    p.kbd_split = bit(reg(opl2::kKeyboardSplit), opl2::kNoteSelectBit);
    return p;
}

void OplDevicePort::out(std::uint16_t port, std::int16_t value) {
    if (const auto write = decoder_.out(port, value)) send(*write);
}

void OplDevicePort::send(opl2::RegisterWrite write) {
    registers_[write.reg] = write.value;
    const Slot slot = slotOf(write.reg);
    switch (slot.kind) {
        case Slot::Kind::Operator:
            device_->setVoice(operatorSettings(slot.channel, slot.op));
            break;
        case Slot::Kind::Channel:
            // Either operator's setting carries the channel's 0xC0; the modulator's will do.
            device_->setVoice(operatorSettings(slot.channel, 0));
            break;
        case Slot::Kind::Note:
            device_->playNote(noteSettings(slot.channel));
            break;
        case Slot::Kind::Params:
            device_->setParams(chipParams());
            break;
        case Slot::Kind::None:
            break;
    }
}

}  // namespace fm

// A step is six register writes and one wait; notes are re-attacked every step, never tied.
#include "playback/player.h"

namespace playback {

namespace {

constexpr Int16 kFNumberBeforeVoice1{0x9F};  // 0xA0 + channel, channel = voice - 1
constexpr Int16 kKeyOnBeforeVoice1{0xAF};    // 0xB0 + channel
constexpr Int16 kLowByte{0xFF};
constexpr Int16 kFNumberHighBits{0x300};
constexpr Int16 kKeyOn{0x20};

// 0xB0+ch holds key-on in bit 5, the block in bits 2-4, the F-number's bits 8-9 in bits 0-1.
// The block is shifted without masking.
Int16 keyOnByte(Int16 block, Int16 fnumber) {
    return ((fnumber & kFNumberHighBits) / Int16{256}) | (block * Int16{4}) | kKeyOn;
}

}  // namespace

void Player::Blasterplay(Int16 voice1, Int16 block1, Int16 fnumber1, Int16 voice2, Int16 block2,
                         Int16 fnumber2, double length) {
    blaster_.Blasterwritereg(kFNumberBeforeVoice1 + voice1, fnumber1 & kLowByte);
    blaster_.Blasterwritereg(kKeyOnBeforeVoice1 + voice1, keyOnByte(block1, fnumber1));
    blaster_.Blasterwritereg(kFNumberBeforeVoice1 + voice2, fnumber2 & kLowByte);
    blaster_.Blasterwritereg(kKeyOnBeforeVoice1 + voice2, keyOnByte(block2, fnumber2));
    // Tempo: multiplied, then divided, so a length value of 2 holds the step for 0.908 s.
    wait_.Sleep(length * 4.54 / 10);
    blaster_.Blastervoiceoff(voice1);
    blaster_.Blastervoiceoff(voice2);
}

void Player::PlayOn_Click() {
    if (depth_ >= kMaxNestedPlaybacks) return;
    struct Nesting {
        int& depth;
        explicit Nesting(int& d) : depth(d) { ++depth; }
        ~Nesting() { --depth; }
    } nesting(depth_);

    const song::Song& s = song_;
    for (Int16 i{1}; i <= Int16{song::kSteps}; i = i + Int16{1}) {
        if (observer_) observer_->stepStarted(i.value(), depth_, s);
        // Only the upper track sets the length of a step.
        Blasterplay(s.VoiceNo1[i], s.Octave1[i], s.FNumber1[i], s.VoiceNo2[i], s.Octave2[i],
                    s.FNumber2[i], static_cast<double>(s.NoteLength1[i].value()));
    }
    if (observer_) observer_->playbackEnded(depth_);
}

}  // namespace playback

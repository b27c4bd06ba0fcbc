// A step is six register writes and one wait; notes are re-attacked every step, never tied.
#include "playback/player.h"

namespace playback {

namespace {
constexpr Int16 kLowByte{fm::opl2::kFNumberLowBits};
}  // namespace

void Player::Blasterplay(Int16 voice1, Int16 block1, Int16 fnumber1, Int16 voice2, Int16 block2,
                         Int16 fnumber2, double length) {
    blaster_.Blasterwritereg(fm::kFNumberBeforeVoice1 + voice1, fnumber1 & kLowByte);
    blaster_.Blasterwritereg(fm::kKeyOnBeforeVoice1 + voice1, fm::keyOnByte(block1, fnumber1));
    blaster_.Blasterwritereg(fm::kFNumberBeforeVoice1 + voice2, fnumber2 & kLowByte);
    blaster_.Blasterwritereg(fm::kKeyOnBeforeVoice1 + voice2, fm::keyOnByte(block2, fnumber2));
    wait_.Sleep(stepSeconds(length));
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

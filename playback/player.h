// The step player behind "Start": both voices keyed on together, held, keyed off, 74 times.
#pragma once

#include "common/int16.h"
#include "fm/blaster.h"
#include "playback/timed_wait.h"
#include "song/song.h"

namespace playback {

using common::Int16;

// A "Start" pressed during a wait nests a whole playback inside it; deeper than this, a press
// is ignored, so that a storm of clicks cannot exhaust the stack.
inline constexpr int kMaxNestedPlaybacks = 8;

// How long a step holds its notes: multiplied, then divided, so a length value of 2 holds the
// step for 0.908 s.
inline double stepSeconds(double length) { return length * 4.54 / 10; }
// How long step `step` (1 to 74) of the song holds its notes: only the upper track sets it.
inline double stepSeconds(const song::Song& song, int step) {
    return stepSeconds(static_cast<double>(song.NoteLength1[Int16{step}].value()));
}

// Lets a front end show where the playback stands.
class StepObserver {
public:
    virtual ~StepObserver() = default;
    virtual void stepStarted(int step, int depth, const song::Song& song) = 0;
    virtual void playbackEnded(int depth) = 0;
};

class Player {
public:
    Player(const song::Song& song, fm::Blaster& blaster, TimedWait& wait)
        : song_(song), blaster_(blaster), wait_(wait) {}

    // Plays the whole song once, from step 1.
    void PlayOn_Click();
    void Blasterplay(Int16 voice1, Int16 block1, Int16 fnumber1, Int16 voice2, Int16 block2,
                     Int16 fnumber2, double length);

    int depth() const { return depth_; }
    void setObserver(StepObserver* observer) { observer_ = observer; }

private:
    const song::Song& song_;
    fm::Blaster& blaster_;
    TimedWait& wait_;
    StepObserver* observer_ = nullptr;
    int depth_ = 0;
};

}  // namespace playback

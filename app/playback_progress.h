// Where the innermost playback stands, for what the desktop shows outside the window: the media
// controls and the taskbar button. Fed by the step player as each step starts and each playback
// ends. In the header alone: the window's module takes nothing from the program that the
// program itself does not use.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <utility>
#include <vector>

#include "playback/player.h"
#include "song/song.h"

namespace app {

class PlaybackProgress final : public playback::StepObserver {
public:
    // `changed` runs after every step start and every playback's end.
    explicit PlaybackProgress(std::function<void()> changed) : changed_(std::move(changed)) {}

    void stepStarted(int step, int depth, const song::Song& song) override {
        // A new playback starts one deeper; the playbacks it was nested in keep their place.
        stands_.resize(static_cast<std::size_t>(std::max(depth, 1)));
        stands_.back() = {step, secondsBefore(song, step), playback::stepSeconds(song, step),
                          std::chrono::steady_clock::now()};
        if (changed_) changed_();
    }
    void playbackEnded(int depth) override {
        // The playback it was nested in, if any, shows again where it stood.
        stands_.resize(static_cast<std::size_t>(std::max(depth - 1, 0)));
        if (changed_) changed_();
    }

    // A playback runs, perhaps with others nested in its wait.
    bool playing() const { return !stands_.empty(); }
    // How many playbacks run, one inside another's wait.
    int depth() const { return static_cast<int>(stands_.size()); }
    // The innermost playback's step, 1 to 74; 0 when none runs.
    int step() const { return playing() ? stands_.back().step : 0; }
    // Step N of 74 as 0 to 1: the taskbar button's bar.
    double fraction() const { return static_cast<double>(step()) / song::kSteps; }

    // How far the innermost playback has come, in microseconds: the steps before the current
    // one, and as much of the current step as has passed.
    long long position_us() const {
        if (!playing()) return 0;
        const Stand& stand = stands_.back();
        const std::chrono::duration<double> passed =
            std::chrono::steady_clock::now() - stand.started;
        // A step whose wait outlasted its length (a playback nested in it) stands at its end.
        return microseconds(stand.step_start_s + std::clamp(passed.count(), 0.0, stand.step_s));
    }

    // The length of one playback of the stored song, in microseconds.
    static long long playbackLength_us() {
        static const long long length_us = [] {
            song::Song stored;
            stored.MakeMusic();
            return microseconds(secondsBefore(stored, song::kSteps + 1));
        }();
        return length_us;
    }

private:
    struct Stand {
        int step;
        double step_start_s;  // where the step starts within the playback
        double step_s;        // how long it holds its notes
        std::chrono::steady_clock::time_point started;
    };

    static long long microseconds(double seconds) { return std::llround(seconds * 1e6); }
    // Where step `step` starts within a playback: the steps before it, one after another.
    static double secondsBefore(const song::Song& song, int step) {
        double total_s = 0;
        for (int i = 1; i < step; ++i) total_s += playback::stepSeconds(song, i);
        return total_s;
    }

    std::function<void()> changed_;
    std::vector<Stand> stands_;  // one per playback under way, innermost last
};

}  // namespace app

// The headless renderer behind --render: start-up, one press of "Start", the whole tune into a
// file.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>

#include "app/shell.h"
#include "app/vesk.h"
#include "playback/player.h"
#include "playback/timed_wait.h"
#include "sound/chip_session.h"
#include "sound/render_file.h"
#include "sound/render_writer.h"

namespace app {

// Start-up writes are let settle for this long before "Start": Nuked buffers them 2 native
// samples apart, so the fm::kStartUpWrites of them need about 12 ms.
inline constexpr double kRenderSettleSeconds = 0.05;
// After the last key-off, the voices' release.
inline constexpr double kRenderTailSeconds = 0.5;

// The window object's clock and pump, on a virtual clock: time passes only as the chip renders,
// and register writes take none. The file starts at the press of "Start". The chip runs on the
// calling thread; resampling and writing the file run beside it (RenderWriter).
class RenderFrontEnd final : public Shell,
                             public playback::Clock,
                             public playback::EventPump,
                             public playback::StepObserver {
public:
    // `port` is the front of the port chain, ending in the emulated port of `chip` (a render
    // chip). The file is opened here, so an unwritable path fails before any work is done.
    // `progress` gets a progress bar (nullptr for none); `end` ends the program, never returns.
    // `quit_signal` names a signal that asks the render to stop (0 for none): the file is then
    // removed and the program ends with 128 + the signal. The file is written in `format`,
    // with `tags`.
    RenderFrontEnd(fm::PortIo& port, sound::ChipSession& chip, const std::filesystem::path& file,
                   std::FILE* progress, std::function<void(int)> end,
                   std::function<int()> quit_signal = {},
                   sound::RenderFormat format = sound::RenderFormat::Wav,
                   const sound::RenderTags& tags = {});

    // Renders and puts the file in place. Raises common::RunError or std::runtime_error.
    void render();

    // The chip's sample at which "Start" was pressed: the file's first sample. A caller that
    // holds the stamps of the writes finds their places in the file from it.
    std::int64_t startFrame() const { return start_frame_; }

    // Shell: there is no window.
    void showWindow() override {}
    void unloadWindow() override {}
    [[noreturn]] void endProgram() override;

    // Clock: the virtual time as a single-precision counter, like the platform's.
    float secondsSinceMidnight() override;
    // EventPump: no events ever come; "blocking" renders until max_block_s has passed on the
    // clock above: the first whole number of samples that gets there.
    void processEvents(double max_block_s) override;

    // StepObserver: the progress bar.
    void stepStarted(int step, int depth, const song::Song& song) override;
    void playbackEnded(int) override {}

private:
    double clockAt(std::int64_t frame) const;
    void renderTo(std::int64_t frame);
    void clearProgress();

    sound::ChipSession& chip_;
    sound::ChipTimeline& run_;
    sound::RenderFile file_;
    std::filesystem::path path_;
    sound::RenderFormat format_;
    std::optional<RenderWriter> writer_;  // while render() runs; stopped before file_ is touched
    std::FILE* progress_;
    std::function<void(int)> end_;
    std::function<int()> quit_signal_;
    Vesk vesk_;
    std::int64_t start_frame_ = 0;
    std::chrono::steady_clock::time_point began_;
    bool progress_shown_ = false;
};

}  // namespace app

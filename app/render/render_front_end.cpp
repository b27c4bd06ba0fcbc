// Rendering runs the same window object, player and wait as playback; only the clock is virtual.
#include "app/render/render_front_end.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "app/message.h"

namespace app {

namespace {
constexpr auto kProgressAfter = std::chrono::milliseconds(500);
constexpr int kBarWidth = 40;
}  // namespace

RenderFrontEnd::RenderFrontEnd(fm::PortIo& port, sound::ChipSession& chip,
                               const std::filesystem::path& file, std::FILE* progress,
                               std::function<void(int)> end, std::function<int()> quit_signal,
                               sound::RenderFormat format, const sound::RenderTags& tags)
    : chip_(chip),
      run_(*chip.run()),
      file_(file, format, chip.run()->rateHz(), tags),
      path_(file),
      format_(format),
      progress_(progress),
      end_(std::move(end)),
      quit_signal_(std::move(quit_signal)),
      vesk_(*this, port, *this, *this) {}

void RenderFrontEnd::endProgram() {
    end_(0);
    std::abort();  // unreachable: end_ never returns
}

double RenderFrontEnd::clockAt(std::int64_t frame) const {
    return static_cast<float>(static_cast<double>(frame) / run_.rateHz());
}

float RenderFrontEnd::secondsSinceMidnight() { return static_cast<float>(clockAt(run_.frame())); }

void RenderFrontEnd::processEvents(double max_block_s) {
    // Ctrl-C mid-render: no half-made file is left behind, and the way out is the program's.
    if (const int signal_number = quit_signal_ ? quit_signal_() : 0; signal_number != 0) {
        clearProgress();
        writer_.reset();
        file_.discard();
        end_(128 + signal_number);
    }
    // The wait compares float readings in double; stepping by that same rule makes each note
    // last exactly as many samples as its wait takes to see its length go by.
    const std::int64_t now = run_.frame();
    const double start = clockAt(now);
    std::int64_t n = std::max<std::int64_t>(
        1, static_cast<std::int64_t>(std::ceil(max_block_s * run_.rateHz())) - 1);
    while (clockAt(now + n) - start < max_block_s) ++n;
    while (n > 1 && clockAt(now + n - 1) - start >= max_block_s) --n;
    // Only the clock need move: the chip makes its samples when the next write comes.
    run_.moveClockTo(now + n, chip_.queue(), writer_->sink());
}

void RenderFrontEnd::renderTo(std::int64_t frame) {
    run_.renderTo(frame, chip_.queue(), writer_->sink());
}

void RenderFrontEnd::render() {
    began_ = std::chrono::steady_clock::now();
    const int rate_hz = run_.rateHz();
    start_frame_ = std::llround(kRenderSettleSeconds * rate_hz);
    writer_.emplace(file_, rate_hz, start_frame_);
    vesk_.setStepObserver(this);
    vesk_.Form_Load();

    renderTo(start_frame_);
    vesk_.PlayOn_Click();

    const std::int64_t end_frame =
        run_.frame() + static_cast<std::int64_t>(std::ceil(kRenderTailSeconds * rate_hz));
    writer_->setEnd(end_frame);
    renderTo(end_frame);
    // The resampler holds the last few milliseconds back until it has seen past them.
    while (!writer_->complete()) renderTo(run_.frame() + rate_hz / 100);
    writer_->finish();
    writer_.reset();

    clearProgress();
    // A write that never reached the chip would leave a wrong note in a file that looks fine.
    if (const std::int64_t lost = chip_.droppedWrites(); lost > 0)
        throw std::runtime_error(std::to_string(lost) +
                                 " register writes did not reach the emulated chip");
    file_.commit();
    // On a terminal, what was made; piped, a render is as silent as any Unix tool.
    if (progress_ != nullptr) {
        char length[32];
        std::snprintf(length, sizeof length, "%.2f s",
                      static_cast<double>(end_frame - start_frame_) / rate_hz);
        printMessage(progress_,
                     "wrote " + common::utf8Name(path_) + ": " + length + ", " +
                         std::to_string(rate_hz) + " Hz, " +
                         (format_ == sound::RenderFormat::Wav
                              ? std::string("16-bit mono WAV")
                              : std::string("mono ") + sound::renderFormatName(format_)));
    }
}

void RenderFrontEnd::clearProgress() {
    if (!progress_shown_) return;
    progress_shown_ = false;
    std::fputs("\r\033[K", progress_);
    std::fflush(progress_);
    statusLineClosed();
}

void RenderFrontEnd::stepStarted(int step, int, const song::Song&) {
    if (progress_ == nullptr) return;
    if (!progress_shown_ && std::chrono::steady_clock::now() - began_ < kProgressAfter) return;
    progress_shown_ = true;
    const int filled = (step - 1) * kBarWidth / song::kSteps;
    std::fprintf(progress_, "\rvesk: rendering [%s%s] step %d/%d",
                 std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(kBarWidth - filled), ' ').c_str(), step,
                 song::kSteps);
    std::fflush(progress_);
    // A failure's message, from wherever it comes, starts below the bar.
    statusLineOpened(progress_);
}

}  // namespace app

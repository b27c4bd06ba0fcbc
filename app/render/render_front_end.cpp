// Rendering runs the same window object, player and wait as playback; only the clock is virtual.
#include "app/render/render_front_end.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>

namespace app {

namespace {
constexpr auto kProgressAfter = std::chrono::milliseconds(500);
constexpr int kBarWidth = 40;
}  // namespace

RenderFrontEnd::RenderFrontEnd(fm::PortIo& port, sound::SoundChip& chip,
                               const std::filesystem::path& wav, std::FILE* progress,
                               std::function<void(int)> end, std::function<int()> quit_signal)
    : chip_(chip),
      stream_(*chip.stream()),
      wav_(wav, chip.stream()->rateHz()),
      progress_(progress),
      end_(std::move(end)),
      quit_signal_(std::move(quit_signal)),
      vesk_(*this, port, *this, *this) {}

void RenderFrontEnd::endProgram() {
    end_(0);
    std::abort();  // unreachable: end_ never returns
}

double RenderFrontEnd::currentTimeSeconds() const {
    return static_cast<double>(stream_.frame()) / stream_.rateHz();
}

double RenderFrontEnd::clockAt(std::int64_t frame) const {
    return static_cast<float>(static_cast<double>(frame) / stream_.rateHz());
}

float RenderFrontEnd::secondsSinceMidnight() {
    return static_cast<float>(clockAt(stream_.frame()));
}

void RenderFrontEnd::processEvents(double max_block_s) {
    // Ctrl-C mid-render: no half-made WAV is left behind, and the way out is the program's.
    if (const int signal_number = quit_signal_ ? quit_signal_() : 0; signal_number != 0) {
        clearProgress();
        wav_.discard();
        end_(128 + signal_number);
    }
    // The wait compares float readings in double; stepping by that same rule makes each note
    // last exactly as many samples as its wait takes to see its length go by.
    const std::int64_t now = stream_.frame();
    const double start = clockAt(now);
    std::int64_t n = std::max<std::int64_t>(
        1, static_cast<std::int64_t>(std::ceil(max_block_s * stream_.rateHz())) - 1);
    while (clockAt(now + n) - start < max_block_s) ++n;
    while (n > 1 && clockAt(now + n - 1) - start >= max_block_s) --n;
    advanceTo(now + n);
}

void RenderFrontEnd::advanceTo(std::int64_t frame) {
    stream_.advanceTo(frame, chip_.queue());
    writeOut(std::numeric_limits<std::int64_t>::max());
}

void RenderFrontEnd::writeOut(std::int64_t end_frame) {
    std::array<std::int16_t, 4096> buffer;
    while (stream_.pending() > 0 && stream_.taken() < end_frame) {
        const std::int64_t first = stream_.taken();
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(buffer.size()), end_frame - first));
        const std::size_t got = stream_.take(buffer.data(), want);
        // What came before "Start" is start-up, not part of the tune.
        const std::int64_t skip =
            std::clamp<std::int64_t>(start_frame_ - first, 0, static_cast<std::int64_t>(got));
        wav_.write(buffer.data() + skip, got - static_cast<std::size_t>(skip));
    }
}

void RenderFrontEnd::render() {
    began_ = std::chrono::steady_clock::now();
    const int rate_hz = stream_.rateHz();
    vesk_.setStepObserver(this);
    vesk_.Form_Load();

    start_frame_ = std::llround(kRenderSettleSeconds * rate_hz);
    advanceTo(start_frame_);
    vesk_.PlayOn_Click();

    const std::int64_t end_frame =
        stream_.frame() + static_cast<std::int64_t>(std::ceil(kRenderTailSeconds * rate_hz));
    advanceTo(end_frame);
    // The resampler holds the last few milliseconds back until it has seen past them.
    while (stream_.taken() + static_cast<std::int64_t>(stream_.pending()) < end_frame)
        stream_.advanceTo(stream_.frame() + rate_hz / 100, chip_.queue());
    writeOut(end_frame);

    clearProgress();
    // A write that never reached the chip would leave a wrong note in a file that looks fine.
    if (const std::int64_t lost = chip_.droppedWrites(); lost > 0)
        throw std::runtime_error(std::to_string(lost) +
                                 " register writes did not reach the emulated chip");
    wav_.commit();
}

void RenderFrontEnd::clearProgress() {
    if (!progress_shown_) return;
    progress_shown_ = false;
    std::fputs("\r\033[K", progress_);
    std::fflush(progress_);
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
}

}  // namespace app

// Resampling and file writing, off the chip's thread.
#include "sound/render_writer.h"

#include <algorithm>

namespace app {

RenderWriter::RenderWriter(sound::RenderFile& file, int rate_hz, std::int64_t start_frame)
    : file_(file), rate_hz_(rate_hz), start_frame_(start_frame), thread_([this] { run(); }) {}

RenderWriter::~RenderWriter() {
    if (!thread_.joinable()) return;
    queue_.cancel();
    thread_.join();
}

void RenderWriter::run() {
    try {
        // Made here, not on the chip's thread: setting soxr up takes about a millisecond.
        sound::Resampler resampler(rate_hz_, sound::Resampler::Use::Render);
        sound::SampleBuffer out(2 * BlockQueue::kBlockSamples);
        for (auto block = queue_.next(); !block.empty(); block = queue_.next()) {
            resampler.process(block.data(), block.size(), out);
            write(out);
            out.clear();
            queue_.done();
        }
    } catch (...) {
        // A full disk, say: the chip's thread raises it at its next block.
        error_ = std::current_exception();
        queue_.fail(error_);
    }
}

void RenderWriter::write(const sound::SampleBuffer& out) {
    const std::int64_t first = made_;
    const auto n = static_cast<std::int64_t>(out.size());
    made_ += n;
    // What came before "Start" is start-up, not part of the tune.
    const std::int64_t from = std::clamp<std::int64_t>(start_frame_ - first, 0, n);
    const std::int64_t to =
        std::clamp<std::int64_t>(end_frame_.load(std::memory_order_acquire) - first, 0, n);
    if (to > from) file_.write(out.data() + from, static_cast<std::size_t>(to - from));
}

bool RenderWriter::complete() {
    queue_.drain();
    // The drain has seen the thread finish its last block, and made_ with it.
    return made_ >= end_frame_.load(std::memory_order_acquire);
}

void RenderWriter::finish() {
    queue_.close();
    thread_.join();
    if (error_) std::rethrow_exception(error_);
}

}  // namespace app

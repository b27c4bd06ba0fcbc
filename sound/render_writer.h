// The render's second thread: it resamples the chip's samples and writes them to the file.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <thread>

#include "sound/block_queue.h"
#include "sound/render_file.h"
#include "sound/resampler.h"

namespace app {

// The chip runs on the thread that plays the tune and hands its native samples to sink(); this
// writer does the rest on a thread of its own. A whole render then takes about as long as the
// chip alone, not the chip plus the resampler and the file.
class RenderWriter {
public:
    // Starts the thread. Output samples before `start_frame` are made but not written; `file`
    // belongs to the writer until finish() or the destructor.
    RenderWriter(sound::RenderFile& file, int rate_hz, std::int64_t start_frame);
    // Stops the thread at once, dropping what is still on its way.
    ~RenderWriter();
    RenderWriter(const RenderWriter&) = delete;
    RenderWriter& operator=(const RenderWriter&) = delete;

    // Where the chip's samples go.
    sound::NativeSink& sink() { return queue_; }
    // Output stops at this sample. Set before the chip runs far enough to make it.
    void setEnd(std::int64_t end_frame) { end_frame_.store(end_frame, std::memory_order_release); }
    // Waits until everything handed over so far is written. True once the file holds every
    // sample up to the end; until then the resampler wants to see more of the chip.
    bool complete();
    // Waits for the thread to write what is left and end. Raises the thread's error, if any.
    void finish();

private:
    void run();
    void write(const sound::SampleBuffer& out);

    sound::RenderFile& file_;
    const int rate_hz_;
    const std::int64_t start_frame_;
    std::atomic<std::int64_t> end_frame_{std::numeric_limits<std::int64_t>::max()};
    std::int64_t made_ = 0;  // output samples made since the chip's start; the thread's own
    BlockQueue queue_;
    std::exception_ptr error_;
    std::thread thread_;
};

}  // namespace app

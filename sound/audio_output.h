// Live sound: an SDL2 audio device whose callback runs the emulated chip.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "sound/chip_stream.h"
#include "sound/write_queue.h"

namespace sound {

// The audio callback owns the chip; the player only hands it stamped writes through queue().
// Neither side ever waits for the other: the player reads a snapshot of the audio clock, the
// callback reads the queue.
class AudioOutput {
public:
    struct Stats {
        std::int64_t callbacks = 0;
        std::int64_t max_callback_ns = 0;  // the longest a callback took to render
        std::int64_t total_callback_ns = 0;
    };

    // Opens the default device at (about) rate_hz and starts it. Raises std::runtime_error with
    // SDL's reason if no device opens.
    AudioOutput(sound::Emulator emulator, int rate_hz);
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // Stops the callback and closes the device; safe to call twice.
    void close();

    sound::WriteQueue& queue() { return queue_; }
    // Player thread: the output sample at which a write made now takes effect. It is a fixed
    // latency after the sample the device is playing, and never one the callback has rendered.
    std::int64_t stampNow();

    int rateHz() const { return rate_hz_; }
    int bufferFrames() const { return buffer_frames_; }
    int latencyFrames() const { return latency_frames_; }
    // SDL's name for the driver that opened the device: "wasapi", "pulseaudio", "dummy".
    const std::string& driver() const { return driver_; }
    Stats stats() const;

private:
    struct Anchor {
        std::int64_t frame;
        std::int64_t ns;
    };
    static void callback(void* self, unsigned char* bytes, int len);
    void render(std::int16_t* out, std::size_t frames);
    Anchor readAnchor();

    std::uint32_t device_ = 0;
    int rate_hz_ = 0;
    int buffer_frames_ = 0;
    int latency_frames_ = 0;
    std::string driver_;
    std::unique_ptr<sound::ChipStream> stream_;
    sound::WriteQueue queue_;

    // Where the last callback began: a sample index and the steady clock's time. Written by the
    // callback as a sequence-counted pair; a reader that catches it mid-update keeps its last one.
    std::atomic<std::uint32_t> anchor_seq_{0};
    std::atomic<std::int64_t> anchor_frame_{0};
    std::atomic<std::int64_t> anchor_ns_{0};
    std::atomic<std::int64_t> rendered_frame_{0};  // the chip has run up to here
    Anchor last_anchor_{0, 0};                     // player thread only

    std::atomic<std::int64_t> callbacks_{0};
    std::atomic<std::int64_t> max_callback_ns_{0};
    std::atomic<std::int64_t> total_callback_ns_{0};
};

}  // namespace sound

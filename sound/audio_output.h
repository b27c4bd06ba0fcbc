// Live sound: an SDL2 audio device whose callback runs the emulated chip.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "sound/callback_clock.h"
#include "sound/drop_out_count.h"
#ifndef _WIN32
#include "sound/pipewire_stream.h"
#include "sound/pulse_stream.h"
#endif
#include "sound/resampled_stream.h"
#include "sound/write_queue.h"

namespace sound {

// The audio callback owns the chip; the player only hands it stamped writes through queue().
// Neither side ever waits for the other: the player reads a snapshot of the audio clock, the
// callback reads the queue.
class AudioOutput {
public:
    struct Stats {
        std::int64_t callbacks = 0;
        // Callbacks so late that the device must have run dry while a note sounded. A gap in
        // silence is not heard, and a device with no listener (SDL's dummy) has none to count.
        std::int64_t underruns = 0;
    };

    // How the device is asked to buffer: each callback renders callback_frames, and the device
    // plays the first of them at most queue_frames later. A callback more than late_frames
    // behind the device's pace finds that it has run dry (0: the device says so itself). A
    // write is stamped stamp_frames after the sample a callback begins with
    // (stampLatencyFrames for these callbacks).
    struct Buffering {
        int callback_frames;
        int queue_frames;
        int late_frames;
        int stamp_frames;
    };
    // Chosen per driver (as SDL_GetCurrentAudioDriver names it; "pulseaudio" and "pipewire"
    // are our own streams on those servers) and output rate.
    static Buffering bufferingFor(std::string_view driver, int rate_hz);
    // How far after the sample a callback begins with a write made then is stamped: past the
    // callback's own buffer, the resampler's lookahead and some slack. With queue_frames, the
    // most a write waits to be heard.
    static int stampLatencyFrames(int rate_hz, int callback_frames);

    using Warn = std::function<void(const std::string&)>;

    // Opens the default device at (about) rate_hz and starts it: a stream of our own on a
    // PulseAudio or PipeWire server where one answers (unless SDL_AUDIODRIVER names another
    // driver), else SDL's choice. Raises std::runtime_error with SDL's reason if no device opens.
    // `warn` hears, in one line each, of a sound server that goes away, comes back or stops
    // answering; it is called from a thread of the device's own.
    AudioOutput(sound::Emulator emulator, int rate_hz, Warn warn = {});
    // Closes first; must not be reached after a close() that gave up (see there).
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // Lets the sound of the writes made so far play out (for at most a tenth of a second), then
    // stops the callback and closes the device; safe to call twice. A sound server that has
    // stopped answering holds SDL's audio thread, and SDL's close waits for that thread: after
    // kCloseLimit this gives up and returns false. The object must then be left in place, never
    // destroyed, since that thread may still call back into it; the process is about to end.
    bool close();
    static constexpr std::chrono::milliseconds kCloseLimit{250};

    // Waits until the device has called back once, for at most `limit`. Until then there is no
    // anchor to stamp against; if it times out, writes are stamped from the moment the device
    // was opened, and land wherever the device's start-up latency puts them.
    bool waitUntilPlaying(std::chrono::milliseconds limit);

    sound::WriteQueue& queue() { return queue_; }
    // Player thread: the output sample at which a write made now takes effect. It is a fixed
    // latency after the sample the device is playing, and never one the callback has rendered.
    std::int64_t stampNow();

    int rateHz() const { return rate_hz_; }
    // The buffering the device was opened with, at its own rate: SDL may give another buffer
    // size than asked for.
    Buffering buffering() const { return opened_; }
    // The driver that opened the device, by SDL's names: "wasapi", "pulseaudio", "dummy".
    const std::string& driver() const { return driver_; }
    Stats stats() const;

private:
    struct Anchor {
        std::int64_t frame;
        std::int64_t ns;
    };
    static void callback(void* self, unsigned char* bytes, int len);
    // `priming`: our stream's first part, written before the server plays it.
    void render(std::int16_t* out, std::size_t frames, bool priming);
    Anchor readAnchor();
    void drain();
    // The keeper thread: watches the device and opens it again when it is lost; closes it when
    // close() asks.
    void keep();
    void checkDevice(std::int64_t& seen_callbacks, std::chrono::steady_clock::time_point& seen_at);
    bool reopen();
    // Runs the chip on to where a device playing all along would be now, for a device that is
    // about to be opened again.
    void catchUp();
    // Our own stream on the sound server: opened, found dry, opened again after a loss.
    bool openPulse(std::chrono::milliseconds limit);
    void onPulseRanDry();
    // Our own stream on a sound server: made ready before it opens, its keeper started once it
    // has, or let go when no server of that kind answers.
    void prepareOwnStream(sound::Emulator emulator, std::string_view driver);
    void startOwnStream(const char* driver);
    void dropOwnStream();
    // A server of the PulseAudio kind that is PipeWire's is played to through PipeWire itself.
    static bool servedByPipeWire();
    bool openPipeWire(std::chrono::milliseconds limit);
    std::int64_t callbacksIn(std::chrono::seconds span) const;
    void warn(const std::string& message) const {
        if (warn_) warn_(message);
    }

    // Opened by the constructor, then the keeper thread's alone: an SDL device, or our stream.
    std::uint32_t device_ = 0;
#ifndef _WIN32
    std::unique_ptr<PulseStream> pulse_;
    std::unique_ptr<PipeWireStream> pipewire_;
#endif
    bool on_pulse_ = false;     // set once, by the constructor
    bool on_pipewire_ = false;  // likewise
    Warn warn_;
    // The queue asked of the sound server, while it is ours to deepen (0: another driver, or
    // the user's own setting); keeper thread only once the device is open, as are the next two.
    int pulse_queue_ms_ = 0;
    std::int64_t deepened_after_ = 0;  // the drop-outs counted when it was last deepened
    std::chrono::steady_clock::time_point deepened_at_{};
    std::int64_t dry_after_ns_ = 0;    // for the pace of the device opened next
    std::int64_t stall_armed_at_ = 0;  // keeper thread only: callbacks before a stall counts
    std::atomic<bool> lost_{false};    // no device is open
    bool counts_drop_outs_ = false;
    DropOutCount drop_outs_;       // callback thread only
    bool server_ran_dry_ = false;  // callback thread only: the server said so since the last
    int settle_callbacks_ = 0;     // callback thread only, once the device plays
    std::thread keeper_;
    std::mutex keeper_mutex_;
    std::condition_variable keeper_wake_;
    bool stopping_ = false;  // under keeper_mutex_
    bool closed_ = false;    // under keeper_mutex_
    int rate_hz_ = 0;
    Buffering opened_{};
    std::atomic<int> queue_frames_{0};  // opened_'s, then as the keeper thread deepens it
    std::string driver_;
    std::unique_ptr<sound::ResampledStream> stream_;
    sound::WriteQueue queue_;

    // Where the last callback began: a sample index and the steady clock's time. Written by the
    // callback as a sequence-counted pair; a reader that catches it mid-update keeps its last one.
    std::atomic<std::uint32_t> anchor_seq_{0};
    std::atomic<std::int64_t> anchor_frame_{0};
    std::atomic<std::int64_t> anchor_ns_{0};
    std::atomic<std::int64_t> rendered_frame_{0};  // the chip has run up to here
    Anchor last_anchor_{0, 0};                     // player thread only
    std::atomic<std::int64_t> last_stamp_{0};      // the latest stampNow() gave
    std::unique_ptr<CallbackClock> pace_;          // callback thread only

    std::atomic<std::int64_t> callbacks_{0};
    std::atomic<std::int64_t> underruns_{0};
};

}  // namespace sound

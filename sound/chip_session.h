// The emulated chip as the program uses it: for a render, a chip run on a virtual clock; live, a
// sound device; without one, silence.
//
// One register write through sound/, from the port chain to the core:
//   StampingPort (decodes 0x388/0x389, stamps the output sample the write takes effect at)
//     -> WriteQueue (lock-free, player thread to audio or render thread)
//     -> ChipTimeline (runs the core up to the stamp, then applies the write)
//     -> OplCore (AdPlug's YM3812 at its native 49716 Hz)
//   live: ResampledStream resamples the timeline for AudioOutput's device callback;
//   render: the render front end moves the timeline, RenderWriter resamples and writes the file.
// ChipSession owns the pieces, live or rendering.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "fm/port_io.h"
#include "fm/ports/none_port.h"
#include "sound/audio_output.h"
#include "sound/intake_throttle.h"
#include "sound/resampled_stream.h"
#include "sound/stamping_port.h"
#include "sound/write_queue.h"

namespace sound {

class ChipSession {
public:
    // Rendering: nothing plays; the chip's time moves only as the render runs it.
    static std::unique_ptr<ChipSession> forRender(sound::Emulator emulator, int rate_hz);
    // Live: opens the sound device. If none opens, `warn` is told why and the chip is silent.
    static std::unique_ptr<ChipSession> forLive(
        sound::Emulator emulator, int rate_hz, const std::function<void(const std::string&)>& warn);
    ~ChipSession();

    // The backend for the back of the port chain.
    std::unique_ptr<fm::PortIo> makePort();

    bool silent() const { return !run_ && !audio_; }
    // Rendering only: the chip's run, which the render drives, and the queue its writes wait in.
    sound::ChipTimeline* run() { return run_.get(); }
    sound::WriteQueue& queue() { return audio_ ? audio_->queue() : queue_; }
    AudioOutput* audio() { return audio_; }
    // Live: why no sound device opened, or "" if one did.
    const std::string& audioError() const { return audio_error_; }

    // Where on the chip's time a register write made now lands, in seconds from the chip's
    // start. In a render it is exact (samples / rate) and moves only as samples are produced;
    // register captures take their time stamps from here. Live, it includes the output latency.
    double writeTimeSeconds();

    // Register writes lost because the queue to the chip was full: the renderer fell behind.
    std::int64_t droppedWrites() const;
    // Live: times the sound device ran dry, as far as the program can tell.
    std::int64_t dropOuts() const;

    // Stops live sound; for the program's way out. Never waits long for a sound server that
    // has stopped answering: the device is left to it, and `warn` told so.
    void close();

private:
    ChipSession() = default;
    std::int64_t nowFrame();
    // nowFrame() for a write the port is about to hand to the chip. Live, the first one waits
    // for the device to start, and any one may wait for the chip to catch up (IntakeThrottle).
    std::int64_t stampWrite();
    void waitForDevice();

    std::unique_ptr<sound::ChipTimeline> run_;
    // Owned until a close gives up on it: then it is left for the process's end, since the
    // server's thread may still call into it.
    std::unique_ptr<AudioOutput> audio_owner_;
    AudioOutput* audio_ = nullptr;
    std::function<void(const std::string&)> warn_;
    std::string audio_error_;
    bool waited_for_audio_ = false;
    std::unique_ptr<IntakeThrottle> pacer_;  // live only
    std::int64_t hold_ns_ = 0;               // how long to wait before the next write
    sound::WriteQueue queue_;
    const sound::StampingPort* port_ = nullptr;  // the one makePort() made, owned by the chain
};

}  // namespace sound

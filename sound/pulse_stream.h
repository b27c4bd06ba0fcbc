// A playback stream of our own on a PulseAudio server (or PipeWire's pulse server), through
// libpulse, loaded when live sound starts. SDL's pulseaudio driver leaves the stream's buffer to
// the server: one that prebuffers stops on every underrun and plays on late by what it lost,
// and one whose queue cannot change without closing it. Ours has no prebuffer, so the server's
// read position keeps time through a gap and what comes after it sounds at its place; the
// server itself says when it ran dry; and the queue deepens while it plays.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

namespace sound {

class PulseStream {
public:
    // Both are called on libpulse's own thread, one at a time. `fill` renders `frames` samples
    // of 16-bit mono; `priming` says they are the stream's first part, written before the
    // server plays anything. `ran_dry` hears that the server found the stream empty.
    struct Callbacks {
        std::function<void(std::int16_t* out, std::size_t frames, bool priming)> fill;
        std::function<void()> ran_dry;
    };

    // Connects to the user's server and starts a stream at rate_hz that the server keeps
    // queue_frames deep, asked for in parts of at least request_frames (PipeWire's server
    // chooses its own, and queues 22 ms at least, so as not to hurry its whole graph). Raises
    // std::runtime_error, saying why, if libpulse is missing or no server answers within
    // `limit`; it never starts a server.
    PulseStream(int rate_hz, int queue_frames, int request_frames, Callbacks callbacks,
                std::chrono::milliseconds limit);
    // Whether the user's server of the PulseAudio kind is PipeWire's; raises as above.
    static bool servedByPipeWire(std::chrono::milliseconds limit);
    // Stops libpulse's thread and drops the connection; never waits on the server.
    ~PulseStream();
    PulseStream(const PulseStream&) = delete;
    PulseStream& operator=(const PulseStream&) = delete;

    // The server went away or ended the stream.
    bool failed() const { return failed_.load(); }
    // Asks the server to keep the stream this deep from now on.
    void setQueue(int queue_frames);

private:
    struct Probe {};
    // Connects, and asks the server its name.
    PulseStream(Probe, std::chrono::milliseconds limit);
    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onWritable(pa_stream* stream, std::size_t bytes, void* self);
    static void onUnderflow(pa_stream* stream, void* self);
    template <typename Ready>
    void waitFor(Ready ready, const char* what);
    void release();

    std::chrono::steady_clock::time_point give_up_;  // for the server's answers
    bool on_pipewire_ = false;
    int request_frames_ = 0;
    int least_queue_frames_ = 0;  // PipeWire's: a shallower queue sets its whole graph's pace
    Callbacks callbacks_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    bool corked_ = true;  // libpulse's thread only: until the first fill
    std::atomic<bool> failed_{false};
};

}  // namespace sound

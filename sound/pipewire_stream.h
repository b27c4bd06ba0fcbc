// A playback stream of our own on a PipeWire server, through libpipewire, loaded when live
// sound starts. Through PipeWire's pulse server a stream cannot queue less than its graph's
// quantum and two of its parts, and the quantum it asks for is taken from that queue: 21 ms at
// least where the graph is to run at 10.7 ms, which a machine without real-time scheduling
// needs. Here the graph calls us for each of its quanta, and what we give it sounds in the
// next, so a write waits about two quanta to be heard.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

struct pw_core;
struct pw_context;
struct pw_stream;
struct pw_thread_loop;

namespace sound {

class PipeWireStream {
public:
    // Called on PipeWire's data thread: renders `frames` samples of 16-bit mono. `lost_frames`
    // is how much of the graph's time went by without us since the last call: the graph played
    // a gap that long, and what follows belongs that much later.
    using Fill =
        std::function<void(std::int16_t* out, std::size_t frames, std::int64_t lost_frames)>;

    // Connects to the user's PipeWire server and starts a stream at rate_hz that asks the graph
    // for quanta of `quantum_frames`. Raises std::runtime_error, saying why, if libpipewire is
    // missing or no server takes the stream within `limit`; it never starts a server.
    PipeWireStream(int rate_hz, int quantum_frames, Fill fill, std::chrono::milliseconds limit);
    // Stops PipeWire's threads and drops the connection; never waits on the server.
    ~PipeWireStream();
    PipeWireStream(const PipeWireStream&) = delete;
    PipeWireStream& operator=(const PipeWireStream&) = delete;

    // The server went away or ended the stream.
    bool failed() const { return failed_.load(); }

private:
    struct Hooks;
    void process();
    void release();

    Fill fill_;
    std::unique_ptr<Hooks> hooks_;
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    int rate_hz_;
    // Data thread only: the graph's clock at the last call, and what we gave it then, in its
    // ticks.
    std::uint64_t last_ticks_ = 0;
    std::uint64_t given_ticks_ = 0;
    std::atomic<int> state_{0};
    std::atomic<bool> failed_{false};
};

}  // namespace sound

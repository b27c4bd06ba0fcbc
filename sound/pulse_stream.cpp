// libpulse's threaded main loop: its thread dispatches the server's requests and our callbacks
// under the loop's lock, which any other thread takes before it touches the stream.
#include "sound/pulse_stream.h"

#include <dlfcn.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

namespace sound {

namespace {

// libpulse's soname, the same since 0.9. Like SDL, it is loaded only for live sound.
constexpr const char* kLibrary = "libpulse.so.0";
// The connection is looked at this often while it is made: a few times in all.
constexpr std::chrono::milliseconds kConnectPoll{2};

// The calls we make, looked up by name once.
struct Pulse {
    decltype(&pa_threaded_mainloop_new) threaded_mainloop_new;
    decltype(&pa_threaded_mainloop_free) threaded_mainloop_free;
    decltype(&pa_threaded_mainloop_start) threaded_mainloop_start;
    decltype(&pa_threaded_mainloop_stop) threaded_mainloop_stop;
    decltype(&pa_threaded_mainloop_lock) threaded_mainloop_lock;
    decltype(&pa_threaded_mainloop_unlock) threaded_mainloop_unlock;
    decltype(&pa_threaded_mainloop_get_api) threaded_mainloop_get_api;
    decltype(&pa_context_new) context_new;
    decltype(&pa_context_unref) context_unref;
    decltype(&pa_context_connect) context_connect;
    decltype(&pa_context_disconnect) context_disconnect;
    decltype(&pa_context_get_state) context_get_state;
    decltype(&pa_context_set_state_callback) context_set_state_callback;
    decltype(&pa_context_errno) context_errno;
    decltype(&pa_context_get_server_info) context_get_server_info;
    decltype(&pa_strerror) strerror;
    decltype(&pa_stream_new) stream_new;
    decltype(&pa_stream_unref) stream_unref;
    decltype(&pa_stream_connect_playback) stream_connect_playback;
    decltype(&pa_stream_disconnect) stream_disconnect;
    decltype(&pa_stream_get_state) stream_get_state;
    decltype(&pa_stream_set_state_callback) stream_set_state_callback;
    decltype(&pa_stream_set_write_callback) stream_set_write_callback;
    decltype(&pa_stream_set_underflow_callback) stream_set_underflow_callback;
    decltype(&pa_stream_begin_write) stream_begin_write;
    decltype(&pa_stream_write) stream_write;
    decltype(&pa_stream_cork) stream_cork;
    decltype(&pa_stream_set_buffer_attr) stream_set_buffer_attr;
    decltype(&pa_operation_unref) operation_unref;
};

template <typename Function>
bool find(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

// The library's calls, or nullptr (and why, in `error`) if it or one of them is missing.
const Pulse* pulse(std::string& error) {
    static std::string why;
    static const Pulse* const loaded = []() -> const Pulse* {
        void* library = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            why = dlerror();
            return nullptr;
        }
        static Pulse p;
        const bool all =
            find(library, "pa_threaded_mainloop_new", p.threaded_mainloop_new) &&
            find(library, "pa_threaded_mainloop_free", p.threaded_mainloop_free) &&
            find(library, "pa_threaded_mainloop_start", p.threaded_mainloop_start) &&
            find(library, "pa_threaded_mainloop_stop", p.threaded_mainloop_stop) &&
            find(library, "pa_threaded_mainloop_lock", p.threaded_mainloop_lock) &&
            find(library, "pa_threaded_mainloop_unlock", p.threaded_mainloop_unlock) &&
            find(library, "pa_threaded_mainloop_get_api", p.threaded_mainloop_get_api) &&
            find(library, "pa_context_new", p.context_new) &&
            find(library, "pa_context_unref", p.context_unref) &&
            find(library, "pa_context_connect", p.context_connect) &&
            find(library, "pa_context_disconnect", p.context_disconnect) &&
            find(library, "pa_context_get_state", p.context_get_state) &&
            find(library, "pa_context_set_state_callback", p.context_set_state_callback) &&
            find(library, "pa_context_errno", p.context_errno) &&
            find(library, "pa_context_get_server_info", p.context_get_server_info) &&
            find(library, "pa_strerror", p.strerror) &&
            find(library, "pa_stream_new", p.stream_new) &&
            find(library, "pa_stream_unref", p.stream_unref) &&
            find(library, "pa_stream_connect_playback", p.stream_connect_playback) &&
            find(library, "pa_stream_disconnect", p.stream_disconnect) &&
            find(library, "pa_stream_get_state", p.stream_get_state) &&
            find(library, "pa_stream_set_state_callback", p.stream_set_state_callback) &&
            find(library, "pa_stream_set_write_callback", p.stream_set_write_callback) &&
            find(library, "pa_stream_set_underflow_callback", p.stream_set_underflow_callback) &&
            find(library, "pa_stream_begin_write", p.stream_begin_write) &&
            find(library, "pa_stream_write", p.stream_write) &&
            find(library, "pa_stream_cork", p.stream_cork) &&
            find(library, "pa_stream_set_buffer_attr", p.stream_set_buffer_attr) &&
            find(library, "pa_operation_unref", p.operation_unref);
        if (!all) why = std::string(kLibrary) + " lacks a call: " + dlerror();
        return all ? &p : nullptr;
    }();
    error = why;
    return loaded;
}

const Pulse& api() {
    std::string unused;
    return *pulse(unused);
}

constexpr auto kServerDefault = static_cast<std::uint32_t>(-1);
// PipeWire's pulse server names itself so. It runs its graph in quanta of its own choosing, and
// asked for parts of a set size it played a gap of one part several times a second: there the
// parts are left to it.
constexpr std::string_view kPipeWireName = "on PipeWire";
// PipeWire runs its whole graph at the pace its most hurried stream asks for: the queue less
// two parts, at least 256 frames, rounded down to a power of two. Our 15 ms queue set it at
// 5.3 ms. Without real-time scheduling, beside a build and two busy loops, its pulse server
// then missed that pace 147 times in a song, each a gap of a quantum the stream is never told
// of. Queued at least this deep, and counted from the server's side (latency adjustment would
// halve what the pace is taken from), the graph runs at 10.7 ms: one gap besides a 50 ms stall.
constexpr int kPipeWireLeastQueueMs = 22;

// The buffer the server keeps for the stream. No prebuffer: the stream is started by hand
// once it holds its first part, and an underrun does not stop it. The server then plays
// silence and its read position runs on, so whatever is written late for the time it lost is
// dropped, and what follows sounds at its place.
pa_buffer_attr bufferFor(int queue_frames, int least_queue_frames, int request_frames) {
    pa_buffer_attr attr{};
    attr.maxlength = kServerDefault;
    attr.tlength = static_cast<std::uint32_t>(std::max(queue_frames, least_queue_frames)) *
                   sizeof(std::int16_t);
    attr.prebuf = 0;
    attr.minreq = request_frames > 0
                      ? static_cast<std::uint32_t>(request_frames) * sizeof(std::int16_t)
                      : kServerDefault;
    attr.fragsize = kServerDefault;
    return attr;
}

void forget(pa_operation* operation) {
    if (operation != nullptr) api().operation_unref(operation);
}

class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) {
        api().threaded_mainloop_lock(loop_);
    }
    ~LoopLock() { api().threaded_mainloop_unlock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

}  // namespace

PulseStream::PulseStream(Probe, std::chrono::milliseconds limit)
    : give_up_(std::chrono::steady_clock::now() + limit) {
    std::string error;
    const Pulse* p = pulse(error);
    if (p == nullptr) throw std::runtime_error(error);
    loop_ = p->threaded_mainloop_new();
    if (loop_ == nullptr) throw std::runtime_error("libpulse could not make its main loop");
    context_ = p->context_new(p->threaded_mainloop_get_api(loop_), "vesk");
    if (context_ == nullptr) {
        release();
        throw std::runtime_error("libpulse could not make a context");
    }
    p->context_set_state_callback(context_, &PulseStream::onContextState, this);
    // A server that is not running is not started for us: another sound system may be the
    // user's.
    if (p->context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        const std::string reason = p->strerror(p->context_errno(context_));
        release();
        throw std::runtime_error("PulseAudio: " + reason);
    }
    if (p->threaded_mainloop_start(loop_) < 0) {
        release();
        throw std::runtime_error("libpulse could not start its thread");
    }
    try {
        waitFor([&] { return p->context_get_state(context_) == PA_CONTEXT_READY; }, "connect");
        // Answered on libpulse's thread, under the loop's lock, as is every look at it here.
        struct Name {
            std::string text;
            bool given = false;
        } name;
        {
            LoopLock lock(loop_);
            pa_operation* operation = p->context_get_server_info(
                context_,
                [](pa_context*, const pa_server_info* info, void* to) {
                    auto* answer = static_cast<Name*>(to);
                    if (info != nullptr && info->server_name != nullptr)
                        answer->text = info->server_name;
                    answer->given = true;
                },
                &name);
            if (operation == nullptr) name.given = true;
            forget(operation);
        }
        waitFor([&] { return name.given; }, "ask the server its name");
        on_pipewire_ = name.text.find(kPipeWireName) != std::string::npos;
    } catch (...) {
        release();
        throw;
    }
}

bool PulseStream::servedByPipeWire(std::chrono::milliseconds limit) {
    return PulseStream(Probe{}, limit).on_pipewire_;
}

PulseStream::PulseStream(int rate_hz, int queue_frames, int request_frames, Callbacks callbacks,
                         std::chrono::milliseconds limit)
    : PulseStream(Probe{}, limit) {
    // Connected: from here on, a throw still ends in the destructor.
    request_frames_ = request_frames;
    callbacks_ = std::move(callbacks);
    const Pulse& p = api();
    if (on_pipewire_) {
        request_frames_ = 0;
        least_queue_frames_ =
            static_cast<int>(std::int64_t{rate_hz} * kPipeWireLeastQueueMs / 1000);
    }
    {
        LoopLock lock(loop_);
        pa_sample_spec format{};
        format.format = PA_SAMPLE_S16NE;
        format.rate = static_cast<std::uint32_t>(rate_hz);
        format.channels = 1;
        stream_ = p.stream_new(context_, "vesk", &format, nullptr);
        if (stream_ == nullptr)
            throw std::runtime_error("PulseAudio: " +
                                     std::string(p.strerror(p.context_errno(context_))));
        p.stream_set_state_callback(stream_, &PulseStream::onStreamState, this);
        p.stream_set_write_callback(stream_, &PulseStream::onWritable, this);
        p.stream_set_underflow_callback(stream_, &PulseStream::onUnderflow, this);
        const pa_buffer_attr attr = bufferFor(queue_frames, least_queue_frames_, request_frames_);
        // On PulseAudio the queue is the whole way to the speaker, the sink's part included.
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_START_CORKED | (on_pipewire_ ? 0 : PA_STREAM_ADJUST_LATENCY));
        if (p.stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0)
            throw std::runtime_error("PulseAudio: " +
                                     std::string(p.strerror(p.context_errno(context_))));
    }
    waitFor([&] { return p.stream_get_state(stream_) == PA_STREAM_READY; }, "open a stream");
}

PulseStream::~PulseStream() { release(); }

template <typename Ready>
void PulseStream::waitFor(Ready ready, const char* what) {
    for (;;) {
        {
            LoopLock lock(loop_);
            if (ready()) return;
            if (failed_.load()) {
                const Pulse& p = api();
                throw std::runtime_error(std::string("PulseAudio: could not ") + what + ": " +
                                         p.strerror(p.context_errno(context_)));
            }
        }
        if (std::chrono::steady_clock::now() >= give_up_)
            throw std::runtime_error(std::string("PulseAudio: the server did not answer (") + what +
                                     ")");
        std::this_thread::sleep_for(kConnectPoll);
    }
}

void PulseStream::release() {
    if (loop_ == nullptr) return;
    const Pulse& p = api();
    // Once the thread is stopped, nothing else touches these. Disconnecting only sends and
    // closes: a server that stopped answering cannot hold it.
    p.threaded_mainloop_stop(loop_);
    if (stream_ != nullptr) {
        p.stream_disconnect(stream_);
        p.stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_ != nullptr) {
        p.context_disconnect(context_);
        p.context_unref(context_);
        context_ = nullptr;
    }
    p.threaded_mainloop_free(loop_);
    loop_ = nullptr;
}

void PulseStream::setQueue(int queue_frames) {
    LoopLock lock(loop_);
    const pa_buffer_attr attr = bufferFor(queue_frames, least_queue_frames_, request_frames_);
    forget(api().stream_set_buffer_attr(stream_, &attr, nullptr, nullptr));
}

void PulseStream::onContextState(pa_context* context, void* self) {
    const pa_context_state_t state = api().context_get_state(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
        static_cast<PulseStream*>(self)->failed_.store(true);
}

void PulseStream::onStreamState(pa_stream* stream, void* self) {
    const pa_stream_state_t state = api().stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
        static_cast<PulseStream*>(self)->failed_.store(true);
}

void PulseStream::onWritable(pa_stream* stream, std::size_t bytes, void* self) {
    auto* me = static_cast<PulseStream*>(self);
    const Pulse& p = api();
    while (bytes >= sizeof(std::int16_t)) {
        void* data = nullptr;
        std::size_t size = bytes;
        if (p.stream_begin_write(stream, &data, &size) < 0 || data == nullptr) return;
        size -= size % sizeof(std::int16_t);
        if (size == 0) return;
        me->callbacks_.fill(static_cast<std::int16_t*>(data), size / sizeof(std::int16_t),
                            me->corked_);
        if (p.stream_write(stream, data, size, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
        bytes -= std::min(bytes, size);
    }
    // The first part is in: the stream starts from here.
    if (std::exchange(me->corked_, false)) forget(p.stream_cork(stream, 0, nullptr, nullptr));
}

void PulseStream::onUnderflow(pa_stream*, void* self) {
    static_cast<PulseStream*>(self)->callbacks_.ran_dry();
}

}  // namespace sound

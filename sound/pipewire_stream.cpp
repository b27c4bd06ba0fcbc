// libpipewire's thread loop runs the connection; the graph calls our process hook on its data
// thread, which PipeWire makes real-time where the system lets it.
#include "sound/pipewire_stream.h"

#include <dlfcn.h>
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

namespace sound {

namespace {

// libpipewire's soname for the whole 0.3 and 1.x series.
constexpr const char* kLibrary = "libpipewire-0.3.so.0";
// The stream is looked at this often while it is made: a few times in all.
constexpr std::chrono::milliseconds kConnectPoll{2};

// The calls we make, looked up by name once.
struct PipeWire {
    decltype(&pw_init) init;
    decltype(&pw_thread_loop_new) thread_loop_new;
    decltype(&pw_thread_loop_destroy) thread_loop_destroy;
    decltype(&pw_thread_loop_start) thread_loop_start;
    decltype(&pw_thread_loop_stop) thread_loop_stop;
    decltype(&pw_thread_loop_lock) thread_loop_lock;
    decltype(&pw_thread_loop_unlock) thread_loop_unlock;
    decltype(&pw_thread_loop_get_loop) thread_loop_get_loop;
    decltype(&pw_context_new) context_new;
    decltype(&pw_context_destroy) context_destroy;
    decltype(&pw_context_connect) context_connect;
    decltype(&pw_core_disconnect) core_disconnect;
    decltype(&pw_properties_new) properties_new;
    decltype(&pw_stream_new) stream_new;
    decltype(&pw_stream_add_listener) stream_add_listener;
    decltype(&pw_stream_connect) stream_connect;
    decltype(&pw_stream_destroy) stream_destroy;
    decltype(&pw_stream_dequeue_buffer) stream_dequeue_buffer;
    decltype(&pw_stream_queue_buffer) stream_queue_buffer;
    decltype(&pw_stream_get_time_n) stream_get_time_n;
};

template <typename Function>
bool find(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

// The library's calls, or nullptr (and why, in `error`) if it or one of them is missing.
const PipeWire* pipewire(std::string& error) {
    static std::string why;
    static const PipeWire* const loaded = []() -> const PipeWire* {
        void* library = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            why = dlerror();
            return nullptr;
        }
        static PipeWire p;
        const bool all = find(library, "pw_init", p.init) &&
                         find(library, "pw_thread_loop_new", p.thread_loop_new) &&
                         find(library, "pw_thread_loop_destroy", p.thread_loop_destroy) &&
                         find(library, "pw_thread_loop_start", p.thread_loop_start) &&
                         find(library, "pw_thread_loop_stop", p.thread_loop_stop) &&
                         find(library, "pw_thread_loop_lock", p.thread_loop_lock) &&
                         find(library, "pw_thread_loop_unlock", p.thread_loop_unlock) &&
                         find(library, "pw_thread_loop_get_loop", p.thread_loop_get_loop) &&
                         find(library, "pw_context_new", p.context_new) &&
                         find(library, "pw_context_destroy", p.context_destroy) &&
                         find(library, "pw_context_connect", p.context_connect) &&
                         find(library, "pw_core_disconnect", p.core_disconnect) &&
                         find(library, "pw_properties_new", p.properties_new) &&
                         find(library, "pw_stream_new", p.stream_new) &&
                         find(library, "pw_stream_add_listener", p.stream_add_listener) &&
                         find(library, "pw_stream_connect", p.stream_connect) &&
                         find(library, "pw_stream_destroy", p.stream_destroy) &&
                         find(library, "pw_stream_dequeue_buffer", p.stream_dequeue_buffer) &&
                         find(library, "pw_stream_queue_buffer", p.stream_queue_buffer) &&
                         find(library, "pw_stream_get_time_n", p.stream_get_time_n);
        if (!all) {
            why = std::string(kLibrary) + " lacks a call: " + dlerror();
            return nullptr;
        }
        p.init(nullptr, nullptr);
        return &p;
    }();
    error = why;
    return loaded;
}

const PipeWire& api() {
    std::string unused;
    return *pipewire(unused);
}

constexpr std::size_t kFrameBytes = sizeof(std::int16_t);

}  // namespace

// What PipeWire calls back through, kept where it can find them for the stream's life.
struct PipeWireStream::Hooks {
    spa_hook stream{};
    spa_hook core{};
    pw_stream_events stream_events{};
    pw_core_events core_events{};
};

PipeWireStream::PipeWireStream(int rate_hz, int quantum_frames, Fill fill,
                               std::chrono::milliseconds limit)
    : fill_(std::move(fill)), hooks_(std::make_unique<Hooks>()), rate_hz_(rate_hz) {
    std::string error;
    const PipeWire* p = pipewire(error);
    if (p == nullptr) throw std::runtime_error(error);
    const auto give_up = std::chrono::steady_clock::now() + limit;
    loop_ = p->thread_loop_new("vesk-pipewire", nullptr);
    if (loop_ == nullptr) throw std::runtime_error("libpipewire could not make its main loop");
    // From here on a failure lets go of what was made, then says why.
    const auto fail = [this](const char* why) {
        release();
        throw std::runtime_error(why);
    };
    // The configuration that brings PipeWire's real-time module: it raises the data thread,
    // through RealtimeKit or directly, where the system allows either.
    context_ = p->context_new(p->thread_loop_get_loop(loop_),
                              p->properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
    if (context_ == nullptr) fail("libpipewire could not make a context");
    if (p->thread_loop_start(loop_) < 0) fail("libpipewire could not start its thread");
    p->thread_loop_lock(loop_);
    // A server that is not running is not started for us: the connection simply fails.
    core_ = p->context_connect(context_, nullptr, 0);
    if (core_ == nullptr) {
        p->thread_loop_unlock(loop_);
        fail("PipeWire: no server answers");
    }
    hooks_->core_events.version = PW_VERSION_CORE_EVENTS;
    hooks_->core_events.error = [](void* self, std::uint32_t id, int, int, const char*) {
        // An error on the core itself is the connection's: the server went away.
        if (id == PW_ID_CORE) static_cast<PipeWireStream*>(self)->failed_.store(true);
    };
    pw_core_add_listener(core_, &hooks_->core, &hooks_->core_events, this);

    char latency[32];
    std::snprintf(latency, sizeof latency, "%d/%d", quantum_frames, rate_hz);
    stream_ = p->stream_new(
        core_, "vesk",
        p->properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback",
                          PW_KEY_MEDIA_ROLE, "Music", PW_KEY_APP_NAME, "vesk", PW_KEY_NODE_NAME,
                          "vesk", PW_KEY_NODE_LATENCY, latency, nullptr));
    if (stream_ == nullptr) {
        p->thread_loop_unlock(loop_);
        fail("PipeWire: could not make a stream");
    }
    hooks_->stream_events.version = PW_VERSION_STREAM_EVENTS;
    hooks_->stream_events.state_changed = [](void* self, pw_stream_state, pw_stream_state state,
                                             const char*) {
        auto* me = static_cast<PipeWireStream*>(self);
        me->state_.store(state);
        if (state == PW_STREAM_STATE_ERROR) me->failed_.store(true);
    };
    hooks_->stream_events.process = [](void* self) {
        static_cast<PipeWireStream*>(self)->process();
    };
    p->stream_add_listener(stream_, &hooks_->stream, &hooks_->stream_events, this);

    std::uint8_t pod[256];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(pod, sizeof pod);
    spa_audio_info_raw format{};
    format.format = SPA_AUDIO_FORMAT_S16;
    format.rate = static_cast<std::uint32_t>(rate_hz);
    format.channels = 1;
    format.position[0] = SPA_AUDIO_CHANNEL_MONO;
    const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &format)};
    const auto flags = static_cast<pw_stream_flags>(
        PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
    const int connected =
        p->stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1);
    p->thread_loop_unlock(loop_);
    if (connected < 0) fail("PipeWire: could not connect a stream");
    // Paused is enough: the stream has its format and a place in the graph, and the sink it
    // plays to may take a moment to wake.
    for (;;) {
        const int state = state_.load();
        if (failed_.load()) fail("PipeWire: the server refused the stream");
        if (state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING) return;
        if (std::chrono::steady_clock::now() >= give_up)
            fail("PipeWire: the server did not answer");
        std::this_thread::sleep_for(kConnectPoll);
    }
}

PipeWireStream::~PipeWireStream() { release(); }

void PipeWireStream::process() {
    const PipeWire& p = api();
    pw_buffer* buffer = p.stream_dequeue_buffer(stream_);
    if (buffer == nullptr) return;
    spa_data& data = buffer->buffer->datas[0];
    if (data.data == nullptr) {
        p.stream_queue_buffer(stream_, buffer);
        return;
    }
    // What the graph asks for this quantum; the buffer can hold more.
    std::size_t frames = data.maxsize / kFrameBytes;
    if (buffer->requested != 0) frames = std::min<std::size_t>(frames, buffer->requested);
    // The graph's clock moves on by a quantum each cycle whether we kept up or not: beyond what
    // we gave last time, it went by without us. Less than half a part is the resampler's
    // rounding.
    std::int64_t lost_frames = 0;
    pw_time time{};
    if (p.stream_get_time_n(stream_, &time, sizeof time) == 0 && time.rate.denom != 0) {
        const auto graph_hz =
            static_cast<std::int64_t>(time.rate.denom / std::max(1U, time.rate.num));
        if (last_ticks_ != 0 && time.ticks > last_ticks_ + given_ticks_ + given_ticks_ / 2) {
            const auto lost_ticks =
                static_cast<std::int64_t>(time.ticks - last_ticks_ - given_ticks_);
            lost_frames = lost_ticks * rate_hz_ / graph_hz;
        }
        last_ticks_ = time.ticks;
        given_ticks_ =
            static_cast<std::uint64_t>(static_cast<std::int64_t>(frames) * graph_hz / rate_hz_);
    }
    fill_(static_cast<std::int16_t*>(data.data), frames, lost_frames);
    data.chunk->offset = 0;
    data.chunk->stride = kFrameBytes;
    data.chunk->size = static_cast<std::uint32_t>(frames * kFrameBytes);
    buffer->size = frames;
    p.stream_queue_buffer(stream_, buffer);
}

void PipeWireStream::release() {
    if (loop_ == nullptr) return;
    const PipeWire& p = api();
    // Once the thread is stopped, nothing else touches these. Destroying the stream takes it
    // off our own data thread first; what goes to the server is only sent.
    p.thread_loop_stop(loop_);
    if (stream_ != nullptr) {
        p.stream_destroy(stream_);
        stream_ = nullptr;
    }
    if (core_ != nullptr) {
        p.core_disconnect(core_);
        core_ = nullptr;
    }
    if (context_ != nullptr) {
        p.context_destroy(context_);
        context_ = nullptr;
    }
    p.thread_loop_destroy(loop_);
    loop_ = nullptr;
}

}  // namespace sound

// SDL2 output. The device pulls; the callback renders the chip up to each write's stamp and on.
#include "sound/audio_output.h"

#include <SDL.h>
#ifndef _WIN32
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace sound {

namespace {

// From a register write to its sound, at most: the goal all the buffers below share.
constexpr int kWriteToSoundMs = 25;
// Small buffers keep inside it: one buffer (5.3 ms at 48 kHz) is being played while the next is
// rendered, and the resampler needs a few ms of lookahead.
constexpr double kBufferSeconds = 0.005;
// A sound server is asked for parts of 5 ms, which need not be a power of two, and to queue
// whatever is left of kWriteToSoundMs (15 ms at 48 kHz, 12 ms at 44.1 kHz): two busy loops
// beside it did not drain that in a song, and a longer stall deepens it (below). Parts half
// as long woke the server so often that it ran dry twice in a song on an idle machine.
constexpr double kPulseCallbackSeconds = kBufferSeconds;
// Our own stream on PipeWire asks the whole graph to run in quanta this long (512 frames at
// 48 kHz). Quanta half as long missed 11-13 graph cycles a song with two busy loops beside
// it, even with the data thread real-time; these missed none, and a write is heard about
// 15 ms later.
constexpr double kPipeWireQuantumSeconds = 0.01;
// libpulse reads a stream's target latency from here, over what the program asks for: a value
// the user has set stands, and is never deepened.
constexpr const char* kPulseLatencyVariable = "PULSE_LATENCY_MSEC";
// A machine busy with other work can hold our thread or the server back for longer than that
// queue lasts. A drop-out then doubles it, up to this, with a second between: one stall drops
// out several times in a row. It never grows on a machine that keeps up. The server deepens a
// playing stream without a gap: 15, 30, 36 ms at 48 kHz, and from a write to its sound then
// stays within 40 ms.
constexpr int kDeepestPulseQueueMs = 36;
constexpr std::chrono::seconds kDeepenEvery{1};
// How long a sound server has to take our stream: at start-up, and each time the keeper looks
// for one that went away. A server that does not answer within it is not waited for.
constexpr std::chrono::milliseconds kPulseOpenLimit{2000};
constexpr std::chrono::milliseconds kPulseReopenLimit{200};
// At the way out, the sound of the last writes is let play out for at most this long.
constexpr std::chrono::milliseconds kDrainLimit{100};
// The callback's shortest stride, so it stops soon after the buffer is full.
constexpr std::int64_t kStrideFrames = 64;
// Slack for a callback that comes a little late.
constexpr int kMarginFrames = 64;
// How often the keeper thread looks at the device: a lost server is found within this.
constexpr std::chrono::milliseconds kKeeperTick{100};
// A device that has not called back for this long has a server that stopped answering.
constexpr std::chrono::seconds kStallLimit{1};
// A gap in sound quieter than this (-44 dBFS) goes unheard.
constexpr int kAudibleLevel = 200;
// Drivers that play to nobody: their callbacks run on a timer, and a late one loses nothing.
constexpr std::string_view kUnheardDrivers[] = {"dummy", "disk"};

#ifndef _WIN32
// alsa-lib prints its own lines on stderr when no card is there, before SDL gives up; the
// reason reaches the user once, in our one-line warning. Opening happens at start-up, before
// any other thread could want stderr.
class QuietStderr {
public:
    QuietStderr() : saved_(dup(STDERR_FILENO)) {
        const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ >= 0 && null_fd >= 0) dup2(null_fd, STDERR_FILENO);
        if (null_fd >= 0) ::close(null_fd);
    }
    ~QuietStderr() {
        if (saved_ < 0) return;
        dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int saved_;
};
#else
// Windows' sound drivers print nothing of their own.
struct QuietStderr {};
#endif

#ifndef _WIN32
// Below the sound servers' own threads (PulseAudio's run at 5, PipeWire's at 20 through
// RealtimeKit), which must run before the callback has anything to fill.
constexpr int kRealtimePriority = 4;

// Where SDL's request for real-time scheduling did not take (it goes through RealtimeKit, which
// few machines besides desktops run), the audio thread asks the kernel itself. That works for
// root and where RLIMIT_RTPRIO allows it; elsewhere the thread stays as it was.
void makeThisThreadRealtime() {
    thread_local bool tried = false;  // SDL starts a new thread for each device it opens
    if (std::exchange(tried, true)) return;
    int policy = 0;
    sched_param param{};
    if (pthread_getschedparam(pthread_self(), &policy, &param) != 0 || policy == SCHED_FIFO ||
        policy == SCHED_RR)
        return;
    param.sched_priority = kRealtimePriority;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}
#else
// SDL gives its audio thread Windows' time-critical priority by itself.
void makeThisThreadRealtime() {}
#endif

std::int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs the chip until `frames` samples are ready, then hands them out. The shortfall goes in
// one stride where it can: each stride is a call into the core and the resampler, and those
// calls, not the samples, are most of what a small buffer costs.
void fill(sound::ResampledStream& stream, sound::WriteQueue& queue, std::int16_t* out,
          std::size_t frames) {
    while (stream.pending() < frames) {
        const auto shortfall = static_cast<std::int64_t>(frames - stream.pending());
        stream.renderTo(stream.frame() + std::max(kStrideFrames, shortfall), queue);
    }
    stream.take(out, frames);
}

int framesFor(int rate_hz, double seconds) {
    int frames = 64;
    while (frames < rate_hz * seconds) frames *= 2;
    return frames;
}

int wholeMsIn(std::int64_t frames, int rate_hz) {
    return static_cast<int>((frames * 1000 + rate_hz - 1) / rate_hz);
}

// The user's setting, or the whole ms left of the budget once a write is stamped.
int pulseQueueMs(int rate_hz, int callback_frames, int stamp_frames) {
    const char* setting = std::getenv(kPulseLatencyVariable);
    const int ms = setting != nullptr ? std::atoi(setting) : 0;
    if (ms > 0) return ms;
    const int left_ms = kWriteToSoundMs - wholeMsIn(stamp_frames, rate_hz);
    // At the lowest rates a callback alone outlasts the budget; the queue is never shallower.
    return std::max(left_ms, wholeMsIn(callback_frames, rate_hz));
}

// How far the chip must run ahead of the sample being handed out, found by running a stream
// the way the callback does. The cheapest core will do: the resampler alone decides this.
int measureLookahead(int rate_hz, int buffer_frames) {
    sound::ResampledStream probe(sound::Emulator::Dosbox, rate_hz,
                                 sound::ResampledStream::Use::Live);
    sound::WriteQueue none;
    std::vector<std::int16_t> out(static_cast<std::size_t>(buffer_frames));
    std::int64_t most = 0;
    while (probe.taken() < rate_hz / 4) {
        fill(probe, none, out.data(), out.size());
        most = std::max(most, probe.frame() - probe.taken());
    }
    return static_cast<int>(most);
}

#ifdef _WIN32
// SDL's own order on Windows is the same, but it stops at the first driver that initialises,
// and WASAPI initialises without a device to open (Wine without a card, a machine whose only
// output is unplugged). So each is tried through to an open device. SDL_AUDIODRIVER, where set,
// is the one to use.
SDL_AudioDeviceID openDevice(const SDL_AudioSpec& want, SDL_AudioSpec& have, int changes) {
    const char* chosen = std::getenv("SDL_AUDIODRIVER");
    const std::vector<const char*> drivers =
        chosen != nullptr && *chosen != '\0'
            ? std::vector<const char*>{nullptr}
            : std::vector<const char*>{"wasapi", "directsound", "winmm"};
    std::string reasons;
    for (const char* driver : drivers) {
        if (driver != nullptr) SDL_SetHint(SDL_HINT_AUDIODRIVER, driver);
        std::string reason;
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
            const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, changes);
            if (device != 0) return device;
            reason = SDL_GetError();
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        } else {
            reason = SDL_GetError();
        }
        if (!reasons.empty()) reasons += "; ";
        reasons += driver != nullptr ? std::string(driver) + ": " + reason : reason;
    }
    throw std::runtime_error(reasons);
}
#endif

#ifndef _WIN32
// Unless the user has named another of SDL's drivers, a sound server of the PulseAudio kind
// (PipeWire's included) is played to through a stream of our own.
bool wantsPulse() {
    const char* chosen = std::getenv("SDL_AUDIODRIVER");
    return chosen == nullptr || *chosen == '\0' || std::string_view(chosen) == "pulseaudio";
}

// With SDL_AUDIODRIVER unset, PipeWire's pulse server means PipeWire itself is played to.
bool wantsPipeWire() {
    const char* chosen = std::getenv("SDL_AUDIODRIVER");
    return chosen == nullptr || *chosen == '\0';
}
#endif

// What the program asks every device for: 16-bit mono at the chip's output rate, in callbacks
// of `frames` samples.
SDL_AudioSpec monoRequest(int rate_hz, int frames, SDL_AudioCallback callback, void* userdata) {
    SDL_AudioSpec want{};
    want.freq = rate_hz;
    want.format = AUDIO_S16SYS;
    want.channels = 1;
    want.samples = static_cast<Uint16>(frames);
    want.callback = callback;
    want.userdata = userdata;
    return want;
}

}  // namespace

AudioOutput::Buffering AudioOutput::bufferingFor(std::string_view driver, int rate_hz) {
    if (driver == "pulseaudio") {
        const auto callback_frames = static_cast<int>(std::lround(rate_hz * kPulseCallbackSeconds));
        const int stamp_frames = stampLatencyFrames(rate_hz, callback_frames);
        const int queue_ms = pulseQueueMs(rate_hz, callback_frames, stamp_frames);
        const auto queue_frames = static_cast<int>((std::int64_t{rate_hz} * queue_ms + 500) / 1000);
        // The server itself says when our stream ran dry.
        return {callback_frames, queue_frames, 0, stamp_frames};
    }
    if (driver == "pipewire") {
        // Our own stream: the graph mixes what it asks of us into the very cycle it asked in,
        // so nothing of ours waits behind it. The graph's clock says when it went on without us.
        const int frames = framesFor(rate_hz, kPipeWireQuantumSeconds);
        return {frames, 0, 0, stampLatencyFrames(rate_hz, frames)};
    }
    // Elsewhere the device plays what a callback gave within about one buffer, and has run dry
    // once a callback is later than that and its own buffer.
    const int frames = framesFor(rate_hz, kBufferSeconds);
    return {frames, frames, 2 * frames, stampLatencyFrames(rate_hz, frames)};
}

int AudioOutput::stampLatencyFrames(int rate_hz, int callback_frames) {
    return callback_frames + measureLookahead(rate_hz, callback_frames) + kMarginFrames;
}

AudioOutput::AudioOutput(sound::Emulator emulator, int rate_hz, Warn warn)
    : warn_(std::move(warn)) {
    rate_hz_ = rate_hz;
#ifndef _WIN32
    if (wantsPulse()) {
        // Until the first callback gives the real anchor (see waitUntilPlaying).
        anchor_ns_.store(steadyNs());
        last_anchor_ = {0, anchor_ns_.load()};
        if (wantsPipeWire() && servedByPipeWire()) {
            prepareOwnStream(emulator, "pipewire");
            if (openPipeWire(kPulseOpenLimit)) {
                on_pipewire_ = true;
                startOwnStream("pipewire");
                return;
            }
            dropOwnStream();
        }
        prepareOwnStream(emulator, "pulseaudio");
        if (std::getenv(kPulseLatencyVariable) == nullptr)
            pulse_queue_ms_ = static_cast<int>(std::int64_t{opened_.queue_frames} * 1000 / rate_hz);
        // libpulse reads the user's queue too, and then leaves the prebuffer to the server,
        // which keeps the sound late by whatever each drop-out lost. The queue was taken
        // above; libpulse does not see the setting while our stream plays.
        std::optional<std::string> user_queue;
        if (const char* setting = std::getenv(kPulseLatencyVariable)) {
            user_queue = setting;
            unsetenv(kPulseLatencyVariable);
        }
        if (openPulse(kPulseOpenLimit)) {
            on_pulse_ = true;
            startOwnStream("pulseaudio");
            return;
        }
        // No server of that kind: SDL looks for another sound system, which may read it.
        if (user_queue) setenv(kPulseLatencyVariable, user_queue->c_str(), 1);
        dropOwnStream();
        pulse_queue_ms_ = 0;
    }
#endif
    std::optional<QuietStderr> quiet(std::in_place);
    // Ctrl-C and SIGTERM are the program's to handle ("Sluta"), not SDL's.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // SDL's audio thread asks for real-time scheduling, where the system grants it (directly,
    // or through RealtimeKit): a busy desktop then cannot keep it from the device for long.
    SDL_SetHint(SDL_HINT_THREAD_FORCE_REALTIME_TIME_CRITICAL, "1");
    // Only a sound server of the PulseAudio kind is given buffers of its own, and that is ours.
    const Buffering buffering = bufferingFor("", rate_hz);
    SDL_AudioSpec want =
        monoRequest(rate_hz, buffering.callback_frames, &AudioOutput::callback, this);
    SDL_AudioSpec have{};
    // A device that prefers another rate gets it: our resampler is better than a second one.
#ifdef _WIN32
    device_ = openDevice(want, have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
#else
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) throw std::runtime_error(SDL_GetError());
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (device_ == 0) {
        const std::string reason = SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        throw std::runtime_error(reason);
    }
#endif
    quiet.reset();
    if (const char* opened = SDL_GetCurrentAudioDriver()) driver_ = opened;
    rate_hz_ = have.freq;
    opened_.callback_frames = have.samples;
    opened_.queue_frames =
        static_cast<int>(std::int64_t{buffering.queue_frames} * rate_hz_ / rate_hz);
    opened_.late_frames =
        static_cast<int>(std::int64_t{buffering.late_frames} * rate_hz_ / rate_hz);
    queue_frames_.store(opened_.queue_frames);
    counts_drop_outs_ = std::find(std::begin(kUnheardDrivers), std::end(kUnheardDrivers),
                                  driver_) == std::end(kUnheardDrivers);
    stream_ = std::make_unique<sound::ResampledStream>(emulator, rate_hz_,
                                                       sound::ResampledStream::Use::Live);
    // Measured already, unless the device gave another rate or buffer than asked.
    opened_.stamp_frames =
        rate_hz_ == rate_hz && opened_.callback_frames == buffering.callback_frames
            ? buffering.stamp_frames
            : stampLatencyFrames(rate_hz_, opened_.callback_frames);
    // The pace is kept in ns, so the rate the device gave does not matter here.
    dry_after_ns_ = framesToNs(buffering.late_frames, rate_hz);
    pace_ = std::make_unique<CallbackClock>(rate_hz_, dry_after_ns_);
    // Only a fallback: the first callback gives the real anchor (see waitUntilPlaying).
    last_anchor_ = {0, steadyNs()};
    anchor_ns_.store(last_anchor_.ns);
    SDL_PauseAudioDevice(device_, 0);
    stall_armed_at_ = callbacksIn(kStallLimit);
    keeper_ = std::thread([this] { keep(); });
}

AudioOutput::~AudioOutput() { close(); }

bool AudioOutput::close() {
    if (!keeper_.joinable()) return true;
    drain();
    std::unique_lock lock(keeper_mutex_);
    stopping_ = true;
    keeper_wake_.notify_all();
    // The keeper closes the device; SDL's close returns once a callback under way has finished,
    // a fraction of a millisecond, unless the server holds SDL's audio thread.
    if (!keeper_wake_.wait_for(lock, kCloseLimit, [this] { return closed_; })) {
        keeper_.detach();
        return false;
    }
    lock.unlock();
    keeper_.join();
    return true;
}

void AudioOutput::keep() {
    std::int64_t seen_callbacks = -1;
    auto seen_at = std::chrono::steady_clock::now();
    std::unique_lock lock(keeper_mutex_);
    while (!keeper_wake_.wait_for(lock, kKeeperTick, [this] { return stopping_; })) {
        lock.unlock();
        checkDevice(seen_callbacks, seen_at);
        lock.lock();
    }
    lock.unlock();
#ifndef _WIN32
    pulse_.reset();
    pipewire_.reset();
#endif
    if (device_ != 0) SDL_CloseAudioDevice(device_);
    if (!on_pulse_ && !on_pipewire_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    lock.lock();
    closed_ = true;
    keeper_wake_.notify_all();
}

void AudioOutput::checkDevice(std::int64_t& seen_callbacks,
                              std::chrono::steady_clock::time_point& seen_at) {
    const auto now = std::chrono::steady_clock::now();
    if (lost_.load()) {
        if (reopen()) warn("the sound server is back; playing on");
        return;
    }
#ifndef _WIN32
    const bool gone = on_pulse_      ? pulse_->failed()
                      : on_pipewire_ ? pipewire_->failed()
                                     : SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED;
#else
    const bool gone = SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED;
#endif
    // SDL marks a device whose server has gone as stopped, and calls back no more.
    if (gone) {
#ifndef _WIN32
        pulse_.reset();
        pipewire_.reset();
#endif
        if (device_ != 0) SDL_CloseAudioDevice(device_);
        device_ = 0;
        lost_.store(true);
        warn("the sound server went away; playing on silently until it is back");
        return;
    }
#ifndef _WIN32
    if (pulse_queue_ms_ != 0 && pulse_queue_ms_ < kDeepestPulseQueueMs &&
        underruns_.load() > deepened_after_ && now - deepened_at_ >= kDeepenEvery) {
        deepened_after_ = underruns_.load();
        deepened_at_ = now;
        pulse_queue_ms_ = std::min(kDeepestPulseQueueMs, pulse_queue_ms_ * 2);
        const int queue_frames = static_cast<int>(std::int64_t{pulse_queue_ms_} * rate_hz_ / 1000);
        queue_frames_.store(queue_frames);
        pulse_->setQueue(queue_frames);
        return;
    }
#endif
    // A server that stops answering keeps the device open but asks for nothing. So does one
    // that is only starting (a sink waking from idle can take a second or two): the watch is
    // armed once the device has asked for kStallLimit of sound, and again after each warning.
    const std::int64_t callbacks = callbacks_.load();
    if (callbacks != seen_callbacks) {
        seen_callbacks = callbacks;
        seen_at = now;
    } else if (callbacks >= stall_armed_at_ && now - seen_at >= kStallLimit) {
        stall_armed_at_ = callbacks + callbacksIn(kStallLimit);
        warn("the sound server has not asked for sound for " + std::to_string(kStallLimit.count()) +
             " s; playing on silently");
    }
}

std::int64_t AudioOutput::callbacksIn(std::chrono::seconds span) const {
    return span.count() * rate_hz_ / opened_.callback_frames;
}

void AudioOutput::catchUp() {
    const Anchor anchor{anchor_frame_.load(), anchor_ns_.load()};
    const std::int64_t now_frame =
        anchor.frame + nsToFrames(std::max<std::int64_t>(0, steadyNs() - anchor.ns), rate_hz_);
    stream_->skipTo(now_frame, queue_);
    // The new device keeps a pace of its own, read once its queue is full and it plays.
    pace_ = std::make_unique<CallbackClock>(rate_hz_, dry_after_ns_);
    settle_callbacks_ = queue_frames_.load() / opened_.callback_frames +
                        static_cast<int>(CallbackClock::kCallbacks);
}

#ifndef _WIN32
bool AudioOutput::openPulse(std::chrono::milliseconds limit) {
    try {
        pulse_ = std::make_unique<PulseStream>(
            rate_hz_, queue_frames_.load(), opened_.callback_frames,
            PulseStream::Callbacks{[this](std::int16_t* out, std::size_t frames, bool priming) {
                                       render(out, frames, priming);
                                   },
                                   [this] { onPulseRanDry(); }},
            limit);
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

void AudioOutput::onPulseRanDry() { server_ran_dry_ = true; }

void AudioOutput::prepareOwnStream(sound::Emulator emulator, std::string_view driver) {
    opened_ = bufferingFor(driver, rate_hz_);
    queue_frames_.store(opened_.queue_frames);
    stream_ = std::make_unique<sound::ResampledStream>(emulator, rate_hz_,
                                                       sound::ResampledStream::Use::Live);
    // The server's read position, or the graph's clock, keeps time through a gap: the pace
    // never moves, and the server says when our stream ran dry.
    dry_after_ns_ = std::numeric_limits<std::int64_t>::max();
    pace_ = std::make_unique<CallbackClock>(rate_hz_, dry_after_ns_);
    counts_drop_outs_ = true;
}

void AudioOutput::startOwnStream(const char* driver) {
    driver_ = driver;
    stall_armed_at_ = callbacksIn(kStallLimit);
    keeper_ = std::thread([this] { keep(); });
}

void AudioOutput::dropOwnStream() {
    stream_.reset();
    pace_.reset();
}

bool AudioOutput::servedByPipeWire() {
    try {
        return PulseStream::servedByPipeWire(kPulseOpenLimit);
    } catch (const std::runtime_error&) {
        return false;
    }
}

bool AudioOutput::openPipeWire(std::chrono::milliseconds limit) {
    try {
        pipewire_ = std::make_unique<PipeWireStream>(
            rate_hz_, opened_.callback_frames,
            [this](std::int16_t* out, std::size_t frames, std::int64_t lost_frames) {
                if (lost_frames > 0) {
                    // The graph played a gap: what comes next sounds where the graph is now.
                    stream_->skipTo(stream_->taken() + lost_frames, queue_);
                    server_ran_dry_ = true;
                }
                render(out, frames, false);
            },
            limit);
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}
#endif

bool AudioOutput::reopen() {
#ifndef _WIN32
    if (on_pulse_ || on_pipewire_) {
        // Our stream starts only once its first part is in: the chip is run on before.
        catchUp();
        const bool opened =
            on_pulse_ ? openPulse(kPulseReopenLimit) : openPipeWire(kPulseReopenLimit);
        if (!opened) return false;
        stall_armed_at_ = callbacks_.load() + callbacksIn(kStallLimit);
        lost_.store(false);
        return true;
    }
#endif
    SDL_AudioSpec want =
        monoRequest(rate_hz_, opened_.callback_frames, &AudioOutput::callback, this);
    SDL_AudioSpec have{};
    std::optional<QuietStderr> quiet(std::in_place);
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    quiet.reset();
    if (device == 0) return false;
    // Opened paused, so the chip is still ours: it runs on to where the device would have been
    // by now, so that what was written meanwhile sounds from here on, at its place.
    catchUp();
    device_ = device;
    stall_armed_at_ = callbacks_.load() + callbacksIn(kStallLimit);
    lost_.store(false);
    SDL_PauseAudioDevice(device_, 0);
    return true;
}

void AudioOutput::drain() {
    const std::int64_t last = last_stamp_.load();
    if (last == 0 || lost_.load()) return;  // nothing was written, or nothing would play it
    const auto give_up = std::chrono::steady_clock::now() + kDrainLimit;
    // The last write has been rendered once a callback has begun past it ...
    while (anchor_frame_.load() < last && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // ... and the device plays that callback's samples within its queue.
    const auto played_by = std::chrono::steady_clock::now() +
                           std::chrono::nanoseconds(framesToNs(
                               queue_frames_.load() + opened_.callback_frames, rate_hz_));
    std::this_thread::sleep_until(std::min(played_by, give_up));
}

bool AudioOutput::waitUntilPlaying(std::chrono::milliseconds limit) {
    // Start-up only; once playing, neither thread ever waits for the other.
    const auto give_up = std::chrono::steady_clock::now() + limit;
    while (callbacks_.load() == 0) {
        if (lost_.load() || std::chrono::steady_clock::now() >= give_up) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void AudioOutput::callback(void* self, unsigned char* bytes, int len) {
    static_cast<AudioOutput*>(self)->render(reinterpret_cast<std::int16_t*>(bytes),
                                            static_cast<std::size_t>(len) / sizeof(std::int16_t),
                                            false);
}

void AudioOutput::render(std::int16_t* out, std::size_t frames, bool priming) {
    const std::int64_t start_ns = steadyNs();
    makeThisThreadRealtime();
    const std::int64_t first = stream_->taken();
    try {
        fill(*stream_, queue_, out, frames);
    } catch (const std::exception&) {
        // No way to report from here; a broken resampler plays silence rather than noise.
        std::memset(out, 0, frames * sizeof(std::int16_t));
    }
    if (priming) {
        // Written before the server plays anything, which a sink that idled can take up to two
        // seconds to begin. The device's pace, and the player's anchor, start with the first
        // part it asks for once it plays.
        rendered_frame_.store(stream_->frame());
        return;
    }
    // Writes are stamped against the device's pace, so a late callback does not move them.
    const CallbackClock::Step step = pace_->onCallback(first, start_ns);
    const bool audible = std::any_of(out, out + frames, [](std::int16_t sample) {
        return sample >= kAudibleLevel || sample <= -kAudibleLevel;
    });
    const std::int64_t queue_ns =
        framesToNs(std::max(queue_frames_.load(), opened_.callback_frames), rate_hz_);
    rendered_frame_.store(stream_->frame());
    if (settle_callbacks_ > 0) {
        // A device opened again fills its queue in a burst of callbacks, then starts playing
        // some time later: its pace is read only once it plays, and the anchor of the device
        // before stands until then (the chip was run on to it).
        if (--settle_callbacks_ == 0) pace_->restart();
        drop_outs_.onPart(start_ns, audible, false, queue_ns);
        callbacks_.fetch_add(1);
        return;
    }
    const bool ran_dry = step.ran_dry || std::exchange(server_ran_dry_, false);
    if (drop_outs_.onPart(start_ns, audible, ran_dry && counts_drop_outs_, queue_ns))
        underruns_.fetch_add(1);
    const std::uint32_t seq = anchor_seq_.load();
    anchor_seq_.store(seq + 1);
    anchor_frame_.store(first);
    anchor_ns_.store(step.frame_ns);
    anchor_seq_.store(seq + 2);
    callbacks_.fetch_add(1);
}

AudioOutput::Anchor AudioOutput::readAnchor() {
    const std::uint32_t before = anchor_seq_.load();
    if (before % 2 != 0) return last_anchor_;
    const Anchor anchor{anchor_frame_.load(), anchor_ns_.load()};
    if (anchor_seq_.load() != before) return last_anchor_;
    last_anchor_ = anchor;
    return anchor;
}

std::int64_t AudioOutput::stampNow() {
    const Anchor anchor = readAnchor();
    const std::int64_t since_ns = std::max<std::int64_t>(0, steadyNs() - anchor.ns);
    const std::int64_t stamp = anchor.frame + nsToFrames(since_ns, rate_hz_) + opened_.stamp_frames;
    const std::int64_t at = std::max(stamp, rendered_frame_.load());
    last_stamp_.store(at);
    return at;
}

AudioOutput::Stats AudioOutput::stats() const { return {callbacks_.load(), underruns_.load()}; }

}  // namespace sound

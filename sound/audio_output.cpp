// SDL2 output. The device pulls; the callback renders the chip up to each write's stamp and on.
#include "sound/audio_output.h"

#include <SDL.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sound {

namespace {

// Small buffers keep the write-to-sound latency inside 25 ms: one buffer (5.3 ms at 48 kHz) is
// being played while the next is rendered, and the resampler needs about 8 ms of lookahead.
constexpr double kBufferSeconds = 0.005;
// The callback's shortest stride, so it stops soon after the buffer is full.
constexpr std::int64_t kStrideFrames = 64;
// Slack for a callback that comes a little late.
constexpr int kMarginFrames = 64;

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

std::int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs the chip until `frames` samples are ready, then hands them out. The shortfall goes in
// one stride where it can: each stride is a call into the core and the resampler, and those
// calls, not the samples, are most of what a small buffer costs.
void fill(sound::ChipStream& stream, sound::WriteQueue& queue, std::int16_t* out,
          std::size_t frames) {
    while (stream.pending() < frames) {
        const auto shortfall = static_cast<std::int64_t>(frames - stream.pending());
        stream.advanceTo(stream.frame() + std::max(kStrideFrames, shortfall), queue);
    }
    stream.take(out, frames);
}

int bufferFramesFor(int rate_hz) {
    int frames = 64;
    while (frames < rate_hz * kBufferSeconds) frames *= 2;
    return frames;
}

// How far the chip must run ahead of the sample being handed out, found by running a stream
// the way the callback does. The cheapest core will do: the resampler alone decides this.
int measureLookahead(int rate_hz, int buffer_frames) {
    sound::ChipStream probe(sound::Emulator::Dosbox, rate_hz, sound::ChipStream::Use::Live);
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

}  // namespace

AudioOutput::AudioOutput(sound::Emulator emulator, int rate_hz) {
    std::optional<QuietStderr> quiet(std::in_place);
    // Ctrl-C and SIGTERM are the program's to handle ("Sluta"), not SDL's.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
#ifndef _WIN32
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) throw std::runtime_error(SDL_GetError());
#endif
    SDL_AudioSpec want{};
    want.freq = rate_hz;
    want.format = AUDIO_S16SYS;
    want.channels = 1;
    want.samples = static_cast<Uint16>(bufferFramesFor(rate_hz));
    want.callback = &AudioOutput::callback;
    want.userdata = this;
    SDL_AudioSpec have{};
    // A device that prefers another rate gets it: our resampler is better than a second one.
#ifdef _WIN32
    device_ = openDevice(want, have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
#else
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (device_ == 0) {
        const std::string reason = SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        throw std::runtime_error(reason);
    }
#endif
    quiet.reset();
    if (const char* driver = SDL_GetCurrentAudioDriver()) driver_ = driver;
    rate_hz_ = have.freq;
    buffer_frames_ = have.samples;
    stream_ = std::make_unique<sound::ChipStream>(emulator, rate_hz_, sound::ChipStream::Use::Live);
    latency_frames_ = buffer_frames_ + measureLookahead(rate_hz_, buffer_frames_) + kMarginFrames;
    last_anchor_ = {0, steadyNs()};
    anchor_ns_.store(last_anchor_.ns);
    SDL_PauseAudioDevice(device_, 0);
}

AudioOutput::~AudioOutput() { close(); }

void AudioOutput::close() {
    if (device_ == 0) return;
    // Returns once a callback under way has finished; it is a fraction of a millisecond.
    SDL_CloseAudioDevice(device_);
    device_ = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void AudioOutput::callback(void* self, unsigned char* bytes, int len) {
    static_cast<AudioOutput*>(self)->render(reinterpret_cast<std::int16_t*>(bytes),
                                            static_cast<std::size_t>(len) / sizeof(std::int16_t));
}

void AudioOutput::render(std::int16_t* out, std::size_t frames) {
    const std::int64_t start_ns = steadyNs();
    const std::int64_t first = stream_->taken();
    try {
        fill(*stream_, queue_, out, frames);
    } catch (const std::exception&) {
        // No way to report from here; a broken resampler plays silence rather than noise.
        std::memset(out, 0, frames * sizeof(std::int16_t));
    }
    const std::uint32_t seq = anchor_seq_.load();
    anchor_seq_.store(seq + 1);
    anchor_frame_.store(first);
    anchor_ns_.store(start_ns);
    anchor_seq_.store(seq + 2);
    rendered_frame_.store(stream_->frame());

    const std::int64_t took_ns = steadyNs() - start_ns;
    callbacks_.fetch_add(1);
    total_callback_ns_.fetch_add(took_ns);
    if (took_ns > max_callback_ns_.load()) max_callback_ns_.store(took_ns);
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
    const std::int64_t stamp = anchor.frame + since_ns * rate_hz_ / 1'000'000'000 + latency_frames_;
    return std::max(stamp, rendered_frame_.load());
}

AudioOutput::Stats AudioOutput::stats() const {
    return {callbacks_.load(), max_callback_ns_.load(), total_callback_ns_.load()};
}

}  // namespace sound

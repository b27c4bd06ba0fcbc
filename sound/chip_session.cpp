// Picks how written registers become sound: rendered on demand, played live, or not at all.
#include "sound/chip_session.h"

#include <chrono>
#include <exception>
#include <thread>

namespace sound {

namespace {
// A device usually calls back within a few ms of opening, well inside the program's own
// start-up. A sink that wakes from idle can take a second or two (PulseAudio's null sink does).
constexpr std::chrono::milliseconds kFirstCallbackLimit{1000};
}  // namespace

std::unique_ptr<ChipSession> ChipSession::forRender(sound::Emulator emulator, int rate_hz) {
    std::unique_ptr<ChipSession> chip(new ChipSession);
    chip->run_ = std::make_unique<sound::ChipTimeline>(emulator, rate_hz);
    return chip;
}

std::unique_ptr<ChipSession> ChipSession::forLive(
    sound::Emulator emulator, int rate_hz, const std::function<void(const std::string&)>& warn) {
    std::unique_ptr<ChipSession> chip(new ChipSession);
    chip->warn_ = warn;
    try {
        chip->audio_owner_ = std::make_unique<AudioOutput>(emulator, rate_hz, warn);
        chip->audio_ = chip->audio_owner_.get();
        chip->pacer_ = std::make_unique<IntakeThrottle>(emulator, chip->audio_->rateHz());
    } catch (const std::exception& e) {
        chip->audio_error_ = e.what();
        warn("no audio device (" + chip->audio_error_ + "); playing silently");
    }
    return chip;
}

ChipSession::~ChipSession() { close(); }

void ChipSession::close() {
    if (!audio_owner_ || audio_owner_->close()) return;
    static_cast<void>(audio_owner_.release());
    warn_("the sound server is not answering; leaving the sound device to it");
}

std::int64_t ChipSession::nowFrame() {
    // Register writes take no time in a render: they land where the chip stands.
    if (!audio_) return run_->frame();
    waitForDevice();
    return audio_->stampNow();
}

void ChipSession::waitForDevice() {
    // The device has been starting since the program began; the first write waits for it, so
    // that nothing is stamped before the device has said where it stands. A capture asks the
    // time of a write before the port stamps it, and must get the same answer.
    if (waited_for_audio_) return;
    waited_for_audio_ = true;
    if (!audio_->waitUntilPlaying(kFirstCallbackLimit))
        warn_("the sound device has not started playing after " +
              std::to_string(kFirstCallbackLimit.count()) +
              " ms; the first notes may come early or late");
}

std::int64_t ChipSession::stampWrite() {
    if (!audio_) return run_->frame();
    waitForDevice();
    // The wait comes before the next write is stamped, never between a stamp and its write.
    if (hold_ns_ > 0) std::this_thread::sleep_for(std::chrono::nanoseconds(hold_ns_));
    const std::int64_t stamp = audio_->stampNow();
    hold_ns_ = pacer_->afterWrite(stamp);
    return stamp;
}

std::unique_ptr<fm::PortIo> ChipSession::makePort() {
    if (silent()) return std::make_unique<fm::NonePort>();
    auto port = std::make_unique<sound::StampingPort>(queue(), [this] { return stampWrite(); });
    port_ = port.get();
    return port;
}

std::int64_t ChipSession::droppedWrites() const { return port_ != nullptr ? port_->dropped() : 0; }

std::int64_t ChipSession::dropOuts() const { return audio_ ? audio_->stats().underruns : 0; }

double ChipSession::writeTimeSeconds() {
    if (silent()) return 0.0;
    const int rate_hz = audio_ ? audio_->rateHz() : run_->rateHz();
    return static_cast<double>(nowFrame()) / rate_hz;
}

}  // namespace sound

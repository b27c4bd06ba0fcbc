// Picks how written registers become sound: rendered on demand, played live, or not at all.
#include "sound/sound_chip.h"

#include <exception>

namespace sound {

std::unique_ptr<SoundChip> SoundChip::forRender(sound::Emulator emulator, int rate_hz) {
    std::unique_ptr<SoundChip> chip(new SoundChip);
    chip->run_ = std::make_unique<sound::ChipRun>(emulator, rate_hz);
    return chip;
}

std::unique_ptr<SoundChip> SoundChip::forLive(sound::Emulator emulator, int rate_hz,
                                              const std::function<void(const std::string&)>& warn) {
    std::unique_ptr<SoundChip> chip(new SoundChip);
    try {
        chip->audio_ = std::make_unique<AudioOutput>(emulator, rate_hz);
    } catch (const std::exception& e) {
        warn(std::string("no audio device (") + e.what() + "); playing silently");
    }
    return chip;
}

SoundChip::~SoundChip() { close(); }

void SoundChip::close() {
    if (audio_) audio_->close();
}

std::int64_t SoundChip::nowFrame() {
    // Register writes take no time in a render: they land where the chip stands.
    return audio_ ? audio_->stampNow() : run_->frame();
}

std::unique_ptr<fm::PortIo> SoundChip::makePort() {
    if (silent()) return std::make_unique<fm::NonePort>();
    auto port = std::make_unique<sound::EmulatedPort>(queue(), [this] { return nowFrame(); });
    port_ = port.get();
    return port;
}

std::int64_t SoundChip::droppedWrites() const { return port_ != nullptr ? port_->dropped() : 0; }

double SoundChip::writeTimeSeconds() {
    if (silent()) return 0.0;
    const int rate_hz = audio_ ? audio_->rateHz() : run_->rateHz();
    return static_cast<double>(nowFrame()) / rate_hz;
}

}  // namespace sound

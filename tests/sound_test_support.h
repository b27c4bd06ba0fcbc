// Shared by the sound tests: rendering the tune, reading WAVs back, and measuring pitch.
#pragma once

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

#include "app/render/render_front_end.h"
#include "fm/port_io.h"
#include "sound/chip_session.h"
#include "sound/opl_core.h"

namespace sound_test {

// A scratch directory of this test process's own.
inline std::filesystem::path scratchDir() {
    auto dir =
        std::filesystem::temp_directory_path() / ("vesk-sound-test-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    return dir;
}

// Every key-on write (0xB0-0xB8 with bit 5 set), with the time the chip's clock gave it.
struct KeyOn {
    int channel;
    double at_s;
};

// Sits in front of the emulated port the way a register capture would.
class KeyOnRecorder final : public fm::PortIo {
public:
    KeyOnRecorder(fm::PortIo& next, std::function<double()> now_s)
        : next_(next), now_s_(std::move(now_s)) {}
    void out(std::uint16_t port, std::int16_t value) override {
        if (auto w = decoder_.out(port, value)) {
            const int channel = w->reg - fm::opl2::kKeyOnBlock;
            if (channel >= 0 && channel < fm::opl2::kChannels && (w->value & fm::opl2::kKeyOnBit))
                key_ons.push_back({channel, now_s_()});
        }
        next_.out(port, value);
    }
    std::uint8_t in(std::uint16_t port) override { return next_.in(port); }
    std::vector<KeyOn> key_ons;

private:
    fm::PortIo& next_;
    std::function<double()> now_s_;
    fm::opl2::PortDecoder decoder_;
};

struct Rendered {
    std::filesystem::path path;
    int rate_hz = 0;
    std::int64_t start_frame = 0;  // the chip's sample at which "Start" was pressed
    std::vector<KeyOn> key_ons;
};

inline Rendered renderSong(sound::Emulator emulator, int rate_hz, const std::string& name) {
    Rendered r{scratchDir() / name, rate_hz, 0, {}};
    auto chip = sound::ChipSession::forRender(emulator, rate_hz);
    auto port = chip->makePort();
    KeyOnRecorder recorder(*port, [&chip] { return chip->writeTimeSeconds(); });
    app::RenderFrontEnd front_end(recorder, *chip, r.path, nullptr, [](int) { throw 0; });
    front_end.render();
    r.start_frame = front_end.startFrame();
    r.key_ons = recorder.key_ons;
    return r;
}

// The default render (nuked, 48 kHz), made once per test process.
inline const Rendered& defaultRender() {
    static const Rendered r = renderSong(sound::Emulator::Nuked, 48000, "default.wav");
    return r;
}

// What a WAV's "fmt " and "data" chunks say, read straight from the RIFF layout.
struct WavInfo {
    int format = 0;  // 1: integer PCM
    int channels = 0;
    int samplerate = 0;
    int bits = 0;
    std::int64_t frames = 0;
};

inline std::vector<std::int16_t> readWav(const std::filesystem::path& path, WavInfo& info) {
    info = {};
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)), {});
    auto u32 = [&b](std::size_t at) {
        return at + 4 > b.size() ? 0u
                                 : static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 |
                                                              b[at + 2] << 16 | b[at + 3] << 24);
    };
    auto u16 = [&b](std::size_t at) { return at + 2 > b.size() ? 0 : b[at] | b[at + 1] << 8; };
    if (b.size() < 12 || std::string(b.begin(), b.begin() + 4) != "RIFF" ||
        std::string(b.begin() + 8, b.begin() + 12) != "WAVE" || u32(4) + 8 != b.size())
        return {};
    std::vector<std::int16_t> samples;
    for (std::size_t at = 12; at + 8 <= b.size();) {
        const std::string id(b.begin() + static_cast<std::ptrdiff_t>(at),
                             b.begin() + static_cast<std::ptrdiff_t>(at + 4));
        const std::uint32_t size = u32(at + 4);
        const std::size_t body = at + 8;
        if (id == "fmt ") {
            info.format = u16(body);
            info.channels = u16(body + 2);
            info.samplerate = static_cast<int>(u32(body + 4));
            info.bits = u16(body + 14);
        } else if (id == "data" && info.channels > 0 && body + size <= b.size()) {
            samples.resize(size / 2);
            for (std::size_t i = 0; i < samples.size(); ++i)
                samples[i] = static_cast<std::int16_t>(u16(body + 2 * i));
            info.frames = static_cast<std::int64_t>(samples.size()) / info.channels;
        }
        at = body + size + (size & 1);  // chunks are padded to even length
    }
    return samples;
}

// The wait's rule, read straight: a step lasts the first whole number of samples after which
// the single-precision clock, compared in double, shows its 0.908 s gone by.
inline std::vector<std::int64_t> expectedStepFrames(int rate_hz, std::int64_t start_frame) {
    auto clock = [rate_hz](std::int64_t frame) {
        return static_cast<double>(static_cast<float>(static_cast<double>(frame) / rate_hz));
    };
    const double step_s = 2.0 * 4.54 / 10;
    std::vector<std::int64_t> lengths;
    std::int64_t at = start_frame;
    for (int step = 0; step < 74; ++step) {
        std::int64_t n = 1;
        while (clock(at + n) - clock(at) < step_s) ++n;
        lengths.push_back(n);
        at += n;
    }
    return lengths;
}

// The chip's note frequency: F-number x native rate / 2^(20 - block).
inline double chipHz(int fnumber, int block) {
    return fnumber * 49716.0 / std::ldexp(1.0, 20 - block);
}

// A stretch of sound, Hann-windowed once so that neighbouring notes leak little into a bin.
class Spectrum {
public:
    Spectrum(const std::int16_t* x, std::size_t n, int rate_hz) : x_(n), rate_hz_(rate_hz) {
        for (std::size_t i = 0; i < n; ++i)
            x_[i] = x[i] * (0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) /
                                                 static_cast<double>(n - 1)));
    }

    // Goertzel: the power at one frequency.
    double power(double hz) const {
        const double c = 2 * std::cos(2 * std::numbers::pi * hz / rate_hz_);
        double s1 = 0, s2 = 0;
        for (double v : x_) {
            const double s0 = v + c * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        return s1 * s1 + s2 * s2 - c * s1 * s2;
    }
    // The amplitude of a steady sine at hz (full scale 32768).
    double amplitude(double hz) const {
        return 4 * std::sqrt(power(hz)) / static_cast<double>(x_.size());
    }
    // Where, in cents from hz, the strongest component within +-span_cents lies.
    double peakCents(double hz, double span_cents) const {
        auto best = [&](double from, double to, double step) {
            double best_c = from, best_p = -1;
            for (double c = from; c <= to + 1e-9; c += step)
                if (const double p = power(hz * std::exp2(c / 1200)); p > best_p)
                    best_p = p, best_c = c;
            return best_c;
        };
        const double coarse = best(-span_cents, span_cents, 5);
        return best(coarse - 5, coarse + 5, 0.25);
    }

private:
    std::vector<double> x_;
    int rate_hz_;
};

}  // namespace sound_test

// The chip backend sits at the back of the chain; recorders wrap it.
#include "app/program.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include "app/real_clock.h"
#include "fm/capture_port.h"
#ifdef _WIN32
#include "fm/inpout32_port.h"
#endif
#include "fm/trace_port.h"
#include "playback/timed_wait.h"

namespace app {

void printError(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "vesk: %s\n", message.c_str());
    std::fflush(stderr);
}

std::unique_ptr<fm::PortIo> Program::makeChip() {
    if (options_.chip == "none") return std::make_unique<fm::NonePort>();
#ifdef _WIN32
    if (options_.chip == "inpout32") return std::make_unique<fm::Inpout32Port>();
#endif
    const fm::Emulator emulator = fm::emulatorNamed(options_.emulator).value_or(fm::Emulator::Nuked);
    if (!options_.render.empty()) {
        sound_chip_ = SoundChip::forRender(emulator, options_.rate_hz);
    } else {
        sound_chip_ = SoundChip::forLive(emulator, options_.rate_hz, printError);
        // The audio thread must be stopped before the process ends under it.
        atExit([this] {
            sound_chip_->close();
            if (const std::int64_t lost = sound_chip_->droppedWrites(); lost > 0)
                printError(std::to_string(lost) +
                           " register writes were lost: the audio thread fell behind");
        });
    }
    return sound_chip_->makePort();
}

std::function<double()> Program::captureClock(std::function<double()> time_of_day_s) {
    // A render's time is the chip's own: exact, and the same on every run.
    if (!options_.render.empty() && sound_chip_)
        return [chip = sound_chip_.get()] { return chip->writeTimeSeconds(); };
    if (!time_of_day_s) time_of_day_s = preciseSecondsSinceMidnight;
    // Played in real time: the wait's clock, from the first write on, across midnight. Copies
    // of this clock share their start.
    auto start = std::make_shared<double>(-1.0);
    return [clock = std::move(time_of_day_s), start] {
        const double now = clock();
        if (*start < 0) *start = now;
        return now >= *start ? now - *start : now - *start + playback::kSecondsPerDay;
    };
}

Program::Program(Options options, std::function<double()> time_of_day_s)
    : options_(std::move(options)) {
    chain_.push_back(makeChip());
    if (!options_.capture.empty()) {
        auto now_s = captureClock(std::move(time_of_day_s));
        auto& capture = wrap<fm::CapturePort>(options_.capture, now_s,
                                              std::string("vesk ") + VESK_VERSION);
        // Every way out comes through here: the capture runs up to the moment the program ends.
        atExit([&capture, now_s] { capture.finish(now_s()); });
    }
    if (!options_.port_trace.empty()) {
        trace_file_ = std::make_unique<common::AtomicFile>(options_.port_trace);
        wrap<fm::TracePort>(trace_file_->stream());
        atExit([this] { trace_file_->commit(); });
    }
}

Program::~Program() = default;

int Program::finish(int status) {
    // Newest first: a recorder is finished before the chip behind it.
    while (!finishers_.empty()) {
        auto finisher = std::move(finishers_.back());
        finishers_.pop_back();
        try {
            finisher();
        } catch (const std::exception& e) {
            printError(e.what());
            status = status == 0 ? 1 : status;
        }
    }
    return status;
}

void Program::exit(int status) {
    status = finish(status);
    std::fflush(stdout);
    std::fflush(stderr);
    // No destructors and no further handlers: the program ends here, wherever it stood.
    std::_Exit(status);
}

void Program::fail(const std::string& message) {
    printError(message);
    exit(1);
}

}  // namespace app

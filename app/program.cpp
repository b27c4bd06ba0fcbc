// The chip backend sits at the back of the chain; recorders wrap it.
#include "app/program.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

#include "app/chip_report.h"
#include "app/platform/parallel_lines.h"
#include "app/platform/privileges.h"
#include "app/platform/quit_signals.h"
#include "app/platform/serial_boards.h"
#include "app/platform/serial_link.h"
#include "capture/capture_port.h"
#include "common/stop_request.h"
#include "fm/blaster.h"
#include "fm/ports/direct_port.h"
#ifdef _WIN32
#include "fm/ports/inpout32_port.h"
#endif
#ifdef __linux__
#include "app/platform/port_instructions.h"
#include "fm/ports/opl_device_port.h"
#include "sound/alsa_opl_device.h"
#endif
#include "fm/ports/lpt_port.h"
#include "fm/ports/none_port.h"
#include "fm/ports/serial_port.h"
#include "fm/ports/trace_port.h"
#include "fm/timer_test.h"
#include "sound/gzip.h"

namespace app {

namespace {

// The program that is running, for a library that ends the process with exit() on its own: Qt
// does when the connection to the X server breaks.
Program* g_running = nullptr;

void finishOnForeignExit() {
    if (Program* program = std::exchange(g_running, nullptr)) {
        const int status = program->finish(1);
        std::fflush(stdout);
        std::fflush(stderr);
        // What lies beyond (static destructors under a running audio thread) is not ours.
        std::_Exit(status);
    }
}

}  // namespace

std::string outputDate() {
    std::time_t now = std::time(nullptr);
    bool utc = false;
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr && *epoch != '\0') {
        long long seconds = 0;
        const char* end = epoch + std::char_traits<char>::length(epoch);
        if (auto [at, error] = std::from_chars(epoch, end, seconds);
            error == std::errc{} && at == end && seconds >= 0) {
            now = static_cast<std::time_t>(seconds);
            utc = true;
        }
    }
    // No other thread of the program calls localtime or gmtime, whose result is shared.
    const std::tm* when = utc ? std::gmtime(&now) : std::localtime(&now);
    char text[16] = "";
    if (when == nullptr || std::strftime(text, sizeof text, "%Y-%m-%d", when) == 0) return {};
    return text;
}

std::unique_ptr<fm::PortIo> Program::makeChip() {
    switch (options_.chip) {
        case Chip::None:
            link_report_ = "--chip none: no chip, so nothing to probe";
            return std::make_unique<fm::NonePort>();
        case Chip::Inpout32:
#ifdef _WIN32
            // Most machines today have no such card, and the emulated chip needs none.
            return std::make_unique<fm::Inpout32Port>(
                "without a card, --chip emulated plays the tune on an emulated chip");
#else
            throw std::runtime_error("--chip inpout32 is only available on Windows");
#endif
        case Chip::Serial: {
            std::string found_as;
            if (options_.serial_device.empty()) {
                // Without a device: the board by its USB ID.
                const SerialBoardChoice choice = chooseSerialBoard(usbSerialDevices());
                if (!choice.device) throw std::runtime_error(choice.problem);
                options_.serial_device = choice.device->device;
                if (choice.protocol) options_.serial_protocol = *choice.protocol;
                found_as = choice.board + " (USB " + choice.device->vendor_id + ":" +
                           choice.device->product_id +
                           (choice.device->product.empty() ? "" : " " + choice.device->product) +
                           ")";
                if (!options_.detect)
                    printError("playing on " + found_as + " at " + options_.serial_device);
            }
            auto link = openSerialLink(options_.serial_device, options_.baud,
                                       fm::serialSettleMs(options_.serial_protocol));
            auto serial =
                std::make_unique<fm::SerialPort>(std::move(link), options_.serial_protocol);
            link_report_ = (found_as.empty() ? "a serial board" : found_as) + " on " +
                           options_.serial_device + ": the link is open (" +
                           fm::serialProtocolName(options_.serial_protocol) + ", " +
                           std::to_string(options_.baud) +
                           " baud), but the board cannot be read back, so the chip behind it is "
                           "taken on trust";
            link_found_ = true;
            // A real chip keeps sounding after the program has gone: whatever ends the program,
            // a voice left keyed on is keyed off, and the line gets its own settings back.
            atExit([port = serial.get()] {
                port->keyOffSounding();
                port->closeLink();
            });
            return serial;
        }
        case Chip::Lpt: {
            OpenedParallelPort parallel = openParallelPort(options_.chip_device);
            link_report_ = "an OPL2LPT or OPL3LPT is taken on trust on parallel port " +
                           parallel.name + ": the board cannot be read back";
            link_found_ = true;
            return std::make_unique<fm::LptPort>(std::move(parallel.lines));
        }
        case Chip::Alsa: {
#ifdef __linux__
            sound::OpenedOplDevice opened = sound::openOplDevice(options_.chip_device);
            link_report_ = opened.description + ", which the kernel drives";
            link_found_ = true;
            if (!options_.detect) printError("playing on " + opened.description);
            return std::make_unique<fm::OplDevicePort>(std::move(opened.device));
#else
            throw std::runtime_error("--chip alsa is only available on Linux");
#endif
        }
        case Chip::Ports:
#ifdef __linux__
        {
            auto card = std::make_unique<fm::DirectPort>(
                port_instructions_ ? port_instructions_() : machinePortInstructions());
            // The ports are granted: root has done its part, before anything else opens.
            giveUpLentRoot();
            return card;
        }
#else
            throw std::runtime_error("--chip ports is only available on Linux");
#endif
        case Chip::Emulated:
            break;
    }
    if (options_.detect) {
        // Nothing to probe, and no sound device to open for it.
        link_report_ = std::string("the emulated chip: an OPL2 (the ") +
                       sound::emulatorName(options_.emulator) + " core), with no hardware to probe";
        link_found_ = true;
        return std::make_unique<fm::NonePort>();
    }
    if (!options_.render.empty()) {
        sound_chip_ = sound::ChipSession::forRender(options_.emulator, options_.rate_hz);
    } else {
        sound_chip_ = sound::ChipSession::forLive(options_.emulator, options_.rate_hz,
                                                  [](const std::string& m) { printError(m); });
#ifdef _WIN32
        // The program picks among Windows' sound systems, so it says which one it is heard on.
        if (const sound::AudioOutput* audio = sound_chip_->audio())
            printError("playing through SDL's " + audio->driver() + " audio driver");
#endif
        // The audio thread must be stopped before the process ends under it.
        atExit([this] {
            sound_chip_->close();
            if (const std::int64_t lost = sound_chip_->droppedWrites(); lost > 0)
                printError(std::to_string(lost) +
                           " register writes were lost: the audio thread fell behind");
            if (const std::int64_t gaps = sound_chip_->dropOuts(); gaps > 0)
                printError(std::to_string(gaps) + (gaps == 1 ? " drop-out" : " drop-outs") +
                           ": the sound device ran dry before it was fed");
        });
    }
    return sound_chip_->makePort();
}

std::string Program::noSoundMessage() const {
    if (!sound_chip_ || sound_chip_->audioError().empty()) return {};
#ifdef _WIN32
    const char* check = "Check that a playback device is enabled in the Windows sound settings";
#else
    const char* check =
        "Check that the sound server is running (pactl info) and that an output device is "
        "connected";
#endif
    return "No sound: no audio device could be opened (" + sound_chip_->audioError() +
           "). The tune plays on in silence.\n\n" + check +
           ", then start vesk again. Without a sound device, vesk --render tune.wav writes the "
           "tune to a file to play elsewhere.";
}

std::function<double()> Program::captureClock(std::function<double()> monotonic_s) {
    // Where an emulated chip plays, its own time: exact and repeatable in a render, and live it
    // agrees with what is heard.
    if (sound_chip_ && !sound_chip_->silent())
        return [chip = sound_chip_.get()] { return chip->writeTimeSeconds(); };
    if (!monotonic_s) {
        monotonic_s = [] {
            return std::chrono::duration<double>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
    }
    // Counted from the first write; copies of this clock share their start.
    auto start = std::make_shared<std::optional<double>>();
    return [clock = std::move(monotonic_s), start] {
        const double now = clock();
        if (!*start) *start = now;
        return now - **start;
    };
}

Program::Program(Options options, std::function<double()> monotonic_s,
                 std::function<std::unique_ptr<fm::PortInstructions>()> port_instructions)
    : options_(std::move(options)), port_instructions_(std::move(port_instructions)) {
    chain_.push_back(makeChip());
    // A card's status reads are the only word from the hardware; they are kept, not made.
    if (options_.chip == Chip::Inpout32 || options_.chip == Chip::Ports)
        status_watch_ = &wrap<fm::StatusWatch>();
    if (!options_.capture.empty()) {
        auto now_s = captureClock(std::move(monotonic_s));
        auto& capture =
            wrap<fm::CapturePort>(pathFromArgument(options_.capture), now_s,
                                  std::string("vesk ") + VESK_VERSION, outputDate(), sound::gzip());
        // Every way out comes through here: the capture runs up to the moment the program ends.
        atExit([&capture, now_s] { capture.finish(now_s()); }, [&capture] { capture.discard(); });
    }
    if (!options_.port_trace.empty()) {
        trace_file_ = std::make_unique<common::AtomicFile>(pathFromArgument(options_.port_trace));
        wrap<fm::TracePort>(trace_file_->stream());
        atExit([this] { trace_file_->commit(); }, [this] { trace_file_->discard(); });
    }
    // In front of the recorders, so that they record the key-offs of the way out.
    key_on_ = &wrap<fm::KeyOnWatch>();
    atExit([this] { keyOff(); });

    static const bool hooked = std::atexit(finishOnForeignExit) == 0;
    if (hooked) g_running = this;
}

Program::~Program() {
    if (g_running == this) g_running = nullptr;
}

void Program::keyOff() {
    // Only what still sounds: "Sluta" and the end of a step have keyed off already.
    if (!key_on_->keyedOn(0) && !key_on_->keyedOn(1)) return;
    try {
        fm::Blaster blaster(port());
        blaster.Blastervoiceoff(common::Int16{1});
        blaster.Blastervoiceoff(common::Int16{2});
    } catch (const std::exception&) {
        // The chip cannot be reached (the fault may be the port itself); the outputs still can.
    }
}

void Program::sayWhatAnswered(const std::function<void(const std::string&)>& warn) {
    if (status_watch_ == nullptr) return;
    const ChipReport report = statusReport(*status_watch_);
    if (report.line.empty()) return;
    printError(report.line);
    if (report.warning && warn) warn(report.line);
}

int Program::detect() {
    ChipReport report;
    if (status_watch_ != nullptr) {
        // The chip's timer ticks in real time; the wait sleeps, which only ever lasts longer.
        report = timerReport(fm::runTimerTest(port(), [](int wait_us) {
            std::this_thread::sleep_for(std::chrono::microseconds(wait_us));
        }));
    } else {
        report = {link_report_, false, link_found_};
    }
    std::fflush(stderr);
    std::printf("%s\n", report.line.c_str());
    return report.found ? 0 : 1;
}

int Program::runFinishers(int status, bool abandoning) {
    if (g_running == this) g_running = nullptr;
    // Newest first: the key-offs, then each recorder before the chip behind it.
    while (!finishers_.empty()) {
        Finisher finisher = std::move(finishers_.back());
        finishers_.pop_back();
        try {
            if (abandoning && finisher.abandon)
                finisher.abandon();
            else
                finisher.finish();
        } catch (const std::exception& e) {
            printError(e.what());
            status = status == 0 ? 1 : status;
        }
    }
    return status;
}

int Program::finish(int status) { return runFinishers(status, false); }

void Program::exit(int status) {
    status = finish(status);
    std::fflush(stdout);
    std::fflush(stderr);
    endAfterSignal(status);
    // No destructors and no further handlers: the program ends here, wherever it stood.
    std::_Exit(status);
}

int failureStatus() {
    const int signal_number = common::stopRequested();
    return signal_number != 0 ? 128 + signal_number : 1;
}

void Program::fail(const std::string& message) {
    printError(message);
    exit(failureStatus());
}

void Program::abandon(const std::string& message) {
    printError(message);
    const int status = runFinishers(failureStatus(), true);
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

}  // namespace app

// Command-line parsing: long options, each value either "--opt VALUE" or "--opt=VALUE".
#include "app/options.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "capture/capture_port.h"
#include "common/atomic_file.h"
#include "common/name_table.h"

namespace app {

namespace {

using ChipEntry = common::Named<Chip>;
constexpr std::array kChips = {
#ifdef _WIN32
    ChipEntry{"inpout32", Chip::Inpout32},
#endif
    ChipEntry{"emulated", Chip::Emulated}, ChipEntry{"none", Chip::None},
    ChipEntry{"serial", Chip::Serial},
#ifdef __linux__
    ChipEntry{"ports", Chip::Ports},
#endif
};

// A whole number from `low` to `high`, digits only (no sign, no spaces); anything else is nullopt.
std::optional<int> wholeNumberIn(std::string_view text, int low, int high) {
    if (text.empty()) return std::nullopt;
    long long number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + (c - '0');
        if (number > high) return std::nullopt;  // before it could overflow
    }
    if (number < low) return std::nullopt;
    return static_cast<int>(number);
}

// Below 8 kHz the tune's upper harmonics fold over; above 192 kHz no sound card goes.
constexpr int kMinRateHz = 8000;
constexpr int kMaxRateHz = 192000;

std::optional<int> rateFrom(std::string_view text) {
    return wholeNumberIn(text, kMinRateHz, kMaxRateHz);
}

// Beyond what any serial driver offers.
constexpr int kMaxBaud = 4000000;

std::optional<int> baudFrom(std::string_view text) { return wholeNumberIn(text, 1, kMaxBaud); }

// "serial:DEVICE[:PROTOCOL]" into the options; the usage error, or "" if it parsed. A device
// path may hold colons itself (/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0), so a
// last field is taken as the protocol only if it is a word: a letter, then letters or digits.
std::string parseSerialChip(std::string_view chip_text, Options& options) {
    constexpr std::string_view kForm = "serial:DEVICE[:PROTOCOL]";
    options.serial_protocol = fm::kDefaultSerialProtocol;
    std::string_view device = chip_text.substr(chip_text.find(':') + 1);
    if (chip_text.find(':') == std::string_view::npos || device.empty())
        return "--chip serial needs a device: " + std::string(kForm);
    if (const auto colon = device.rfind(':'); colon != std::string_view::npos) {
        const std::string_view last = device.substr(colon + 1);
        auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
        const bool word = !last.empty() && letter(last.front()) &&
                          std::all_of(last.begin(), last.end(), [&letter](char c) {
                              return letter(c) || (c >= '0' && c <= '9');
                          });
        if (word) {
            const auto protocol = fm::serialProtocolNamed(last);
            if (!protocol)
                return "unknown serial protocol '" + std::string(last) + "' (" +
                       fm::serialProtocolNames() + ")";
            options.serial_protocol = *protocol;
            device = device.substr(0, colon);
            if (device.empty()) return "--chip serial needs a device: " + std::string(kForm);
        }
    }
    options.chip = Chip::Serial;
    options.serial_device = std::string(device);
    return {};
}

// Whether two output names are one file: the same file where both exist (through any link or
// hard link), else the same place once links, "." and ".." are resolved. A link whose target does
// not exist yet is followed as the output file will follow it.
bool sameFile(const std::string& name_a, const std::string& name_b) {
    namespace fs = std::filesystem;
    const fs::path a = common::outputTarget(pathFromArgument(name_a));
    const fs::path b = common::outputTarget(pathFromArgument(name_b));
    std::error_code error;
    if (fs::equivalent(a, b, error)) return true;
    std::error_code error_a;
    std::error_code error_b;
    const fs::path place_a = fs::weakly_canonical(fs::absolute(a, error_a), error_a);
    const fs::path place_b = fs::weakly_canonical(fs::absolute(b, error_b), error_b);
    return !error_a && !error_b && place_a == place_b;
}

}  // namespace

std::optional<Chip> chipNamed(std::string_view name) { return common::valueNamed(kChips, name); }

const char* chipName(Chip chip) { return common::nameOf(kChips, chip); }

std::string usageText() {
    return std::string{} +
           "Usage: vesk [OPTION]...\n"
           "Plays a two-voice tune on a YM3812 (OPL2) FM chip through ports 0x388/0x389.\n"
           "\n"
           "  --text              use the text front end instead of the window:\n"
           "                      type \"start\" to play, \"sluta\" to quit\n"
           "  --chip NAME         where register writes go (default " +
           chipName(kDefaultChip) +
           "):\n"
           "                      emulated: an emulated OPL2 played through the sound card\n"
           "                      none: nowhere; status reads answer as an idle OPL2\n"
           "                      serial:DEVICE[:PROTOCOL]: a serial OPL board on DEVICE\n"
           "                      (/dev/ttyUSB0, /dev/ttyACM0, COM3); PROTOCOL is\n"
           "                      " +
           fm::serialProtocolNames() + " (default " +
           fm::serialProtocolName(fm::kDefaultSerialProtocol) +
           ")\n"
#ifdef __linux__
           "                      ports: a real card at 0x388 through ioperm (root)\n"
#endif
#ifdef _WIN32
           "                      inpout32: a real card through inpout32.dll\n"
#endif
           "  --baud RATE         the serial board's rate (default " +
           std::to_string(fm::kDefaultSerialBaud) +
           ")\n"
           "  --emulator NAME     the emulated chip's core: nuked (default), mame or dosbox\n"
           "  --render FILE.wav   render the tune to a 16-bit mono WAV file and exit\n"
           "                      (with the emulated chip, unless --chip names another)\n"
           "  --rate HZ           output sample rate, 8000 to 192000 (default 48000)\n"
           "  --capture FILE      record every register write with its time to FILE,\n"
           "                      a .vgm (VGM 1.71), .vgz (gzip'd VGM) or .dro (DOSBox\n"
           "                      raw OPL 2.0) log\n"
           "  --port-trace FILE   write every port access to FILE, one per line\n"
           "  --help              show this help and exit\n"
           "  --version           show the version and exit\n"
#ifndef _WIN32
           "\n"
           "Without a display, the text front end starts instead of the window.\n"
#endif
        ;
}

std::filesystem::path pathFromArgument(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string versionText() { return std::string("vesk ") + VESK_VERSION + "\n"; }

ParsedCommandLine parseCommandLine(int argc, const char* const* argv) {
    ParsedCommandLine parsed;
    bool baud_given = false;
    bool chip_given = false;
    auto fail = [&parsed](std::string message) {
        parsed.action = ParsedCommandLine::Action::UsageError;
        parsed.error = std::move(message);
        return parsed;
    };
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view name = arg;
        std::string value;
        bool has_value = false;
        if (auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = std::string(arg.substr(eq + 1));
            has_value = true;
        }
        // Fetches the option's value from "=VALUE" or the next argument.
        auto takeValue = [&]() -> bool {
            if (has_value) return true;
            if (i + 1 >= argc) return false;
            value = argv[++i];
            return true;
        };
        bool takes_value =
            name == "--chip" || name == "--port-trace" || name == "--capture" || name == "--baud";
        takes_value = takes_value || name == "--emulator" || name == "--render" || name == "--rate";
        if (!takes_value && has_value) return fail(std::string(name) + " takes no value");
        if (takes_value && !takeValue()) return fail(std::string(name) + " needs a value");

        if (name == "--help" || name == "-h") {
            parsed.action = ParsedCommandLine::Action::Help;
            return parsed;
        } else if (name == "--version") {
            parsed.action = ParsedCommandLine::Action::Version;
            return parsed;
        } else if (name == "--text") {
            parsed.options.text = true;
        } else if (name == "--chip" && (value == "serial" || value.starts_with("serial:"))) {
            if (std::string error = parseSerialChip(value, parsed.options); !error.empty())
                return fail(error);
            chip_given = true;
        } else if (name == "--chip") {
            const std::optional<Chip> chip = chipNamed(value);
            if (!chip) return fail("unknown chip '" + value + "'");
            parsed.options.chip = *chip;
            chip_given = true;
        } else if (name == "--emulator") {
            const std::optional<sound::Emulator> emulator = sound::emulatorNamed(value);
            if (!emulator) return fail("unknown emulator '" + value + "'");
            parsed.options.emulator = *emulator;
        } else if (name == "--render") {
            if (value.empty()) return fail("--render needs a file name");
            parsed.options.render = value;
        } else if (name == "--rate") {
            const std::optional<int> rate_hz = rateFrom(value);
            if (!rate_hz)
                return fail("--rate takes a whole number of hertz from " +
                            std::to_string(kMinRateHz) + " to " + std::to_string(kMaxRateHz) +
                            ", not '" + value + "'");
            parsed.options.rate_hz = *rate_hz;
        } else if (name == "--capture") {
            if (!fm::captureFormatFor(pathFromArgument(value)))
                return fail("--capture takes a .vgm, .vgz or .dro file, not '" + value + "'");
            parsed.options.capture = value;
        } else if (name == "--baud") {
            const std::optional<int> baud = baudFrom(value);
            if (!baud)
                return fail("--baud takes a whole number of bits per second, not '" + value + "'");
            parsed.options.baud = *baud;
            baud_given = true;
        } else if (name == "--port-trace") {
            if (value.empty()) return fail("--port-trace needs a file name");
            parsed.options.port_trace = value;
        } else {
            return fail("unknown option '" + std::string(arg) + "'");
        }
    }
    // Only the emulated chip renders, so asking for a render asks for it, whatever the default.
    if (!parsed.options.render.empty() && !chip_given) parsed.options.chip = Chip::Emulated;
    const Options& o = parsed.options;
    if (!o.render.empty() && o.chip != Chip::Emulated)
        return fail("--render needs the emulated chip");
    if (!o.render.empty() && o.text) return fail("--render and --text cannot go together");
    if (baud_given && o.chip != Chip::Serial) return fail("--baud needs --chip serial:DEVICE");
    // Two outputs in one file: one of them would be lost.
    const struct {
        const char* name;
        const std::string& file;
    } outputs[] = {
        {"--render", o.render}, {"--capture", o.capture}, {"--port-trace", o.port_trace}};
    for (std::size_t i = 0; i < std::size(outputs); ++i)
        for (std::size_t j = i + 1; j < std::size(outputs); ++j)
            if (!outputs[i].file.empty() && !outputs[j].file.empty() &&
                sameFile(outputs[i].file, outputs[j].file))
                return fail(std::string(outputs[i].name) + " and " + outputs[j].name +
                            " name the same file '" + outputs[j].file + "'");
    return parsed;
}

}  // namespace app

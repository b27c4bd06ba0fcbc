// Command-line parsing in GNU style, driven by one table that also writes --help.
#include "app/options.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "capture/capture_port.h"
#include "common/atomic_file.h"
#include "common/name_table.h"
#include "sound/library_versions.h"

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
    ChipEntry{"ports", Chip::Ports},       ChipEntry{"alsa", Chip::Alsa},
#endif
    ChipEntry{"lpt", Chip::Lpt},
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

// "serial[:DEVICE[:PROTOCOL]]" into the options; the usage error, or "" if it parsed. A device
// path may hold colons itself (/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0), so a
// last field is taken as the protocol only if it is a word: a letter, then letters or digits.
std::string parseSerialChip(std::string_view chip_text, Options& options) {
    constexpr std::string_view kForm = "serial:DEVICE[:PROTOCOL]";
    options.serial_protocol = fm::kDefaultSerialProtocol;
    options.chip = Chip::Serial;
    // Without a device, the board is looked for by its USB ID.
    if (chip_text.find(':') == std::string_view::npos) return {};
    std::string_view device = chip_text.substr(chip_text.find(':') + 1);
    if (device.empty())
        return "--chip serial needs a device after the colon: " + std::string(kForm);
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

// What the options have set so far, and what the checks across options need to know.
struct ParseState {
    ParsedCommandLine parsed;
    bool chip_given = false;
    bool baud_given = false;
    std::optional<sound::RenderFormat> format_given;
};

// The render's format: --format's, else the extension's. A name without one, and a FIFO or a
// device whatever its name (/dev/stdout, out.fifo), is WAV. The codec's rates are checked here,
// before any work is done. "" when all is well.
std::string renderFormatOf(Options& options, std::optional<sound::RenderFormat> given) {
    if (options.render.empty()) return given ? "--format needs --render" : "";
    const std::filesystem::path path = pathFromArgument(options.render);
    std::error_code error;
    const auto type = std::filesystem::status(path, error).type();
    const bool stream =
        type == std::filesystem::file_type::fifo || type == std::filesystem::file_type::character;
    if (given) {
        options.render_format = *given;
    } else if (const auto by_name = sound::renderFormatFor(path)) {
        options.render_format = *by_name;
    } else if (!path.extension().empty() && !stream) {
        return "--render takes a " + sound::renderFormatsBuiltIn("or", ".") + " file, not '" +
               options.render + "' (--format NAME names the format of any file)";
    }
    return sound::renderRateProblem(options.render_format, options.rate_hz);
}

// "alsa[:DEVICE]" and "lpt[:DEVICE]"; the device may hold colons itself (hw:0,0).
std::string parseDeviceChip(const std::string& value, Options& options) {
    const std::size_t colon = value.find(':');
    const std::string name = value.substr(0, colon);
    const std::optional<Chip> chip = chipNamed(name);
    if (!chip || (*chip != Chip::Alsa && *chip != Chip::Lpt)) return "unknown chip '" + value + "'";
    options.chip = *chip;
    options.chip_device = colon == std::string::npos ? "" : value.substr(colon + 1);
    if (colon != std::string::npos && options.chip_device.empty())
        return "--chip " + name + " needs a device after the colon";
    return {};
}

// One option: its names, its value's name in --help (nullptr for a flag that takes none), its
// help text (lines after the first go under it), and what it does with its value, returning the
// usage error or "".
struct OptionEntry {
    char short_name;  // '\0': none
    std::string_view long_name;
    const char* value_name;
    std::string help;
    std::string (*apply)(const std::string& value, ParseState& state);
};

// Every option, in the order --help lists them.
const std::vector<OptionEntry>& optionTable() {
    static const std::vector<OptionEntry> table = {
        {'\0', "text", nullptr,
         "use the text front end instead of the window:\n"
         "type \"start\" to play, \"sluta\" to quit",
         [](const std::string&, ParseState& s) {
             s.parsed.options.text = true;
             return std::string{};
         }},
        {'\0', "chip", "NAME",
         std::string("where register writes go (default ") + chipName(kDefaultChip) +
             "):\n"
             "emulated: an emulated OPL2 played through the sound card\n"
             "none: nowhere; status reads answer as an idle OPL2\n"
             "serial[:DEVICE[:PROTOCOL]]: a serial OPL board on DEVICE\n"
             "(/dev/ttyUSB0, /dev/ttyACM0, COM3), found by its USB ID\n"
             "when no DEVICE is given; PROTOCOL is\n" +
             fm::serialProtocolNames() + " (default " +
             fm::serialProtocolName(fm::kDefaultSerialProtocol) + ")"
#ifdef __linux__
             + "\nports: a real card at 0x388 through ioperm (root)"
               "\nalsa[:DEVICE]: a sound card's OPL through ALSA's OPL\n"
               "device (hw:0,0; the first one by default; audio group)"
               "\nlpt[:DEVICE]: an OPL2LPT or OPL3LPT on a parallel port\n"
               "(/dev/parport0, the first one by default; lp group)"
#endif
#ifdef _WIN32
             + "\ninpout32: a real card through inpout32.dll"
               "\nlpt[:BASE]: an OPL2LPT or OPL3LPT on the parallel port at\n"
               "BASE (default 0x378), through inpout32.dll"
#endif
         ,
         [](const std::string& value, ParseState& s) {
             s.chip_given = true;
             if (value == "serial" || value.starts_with("serial:"))
                 return parseSerialChip(value, s.parsed.options);
             if (value.find(':') != std::string::npos)
                 return parseDeviceChip(value, s.parsed.options);
             const std::optional<Chip> chip = chipNamed(value);
             if (!chip) return "unknown chip '" + value + "'";
             s.parsed.options.chip = *chip;
             return std::string{};
         }},
        {'\0', "baud", "RATE",
         "the serial board's rate (default " + std::to_string(fm::kDefaultSerialBaud) + ")",
         [](const std::string& value, ParseState& s) {
             const std::optional<int> baud = baudFrom(value);
             if (!baud)
                 return "--baud takes a whole number of bits per second, not '" + value + "'";
             s.parsed.options.baud = *baud;
             s.baud_given = true;
             return std::string{};
         }},
        {'\0', "emulator", "NAME", "the emulated chip's core: nuked (default), mame or dosbox",
         [](const std::string& value, ParseState& s) {
             const std::optional<sound::Emulator> emulator = sound::emulatorNamed(value);
             if (!emulator) return "unknown emulator '" + value + "'";
             s.parsed.options.emulator = *emulator;
             return std::string{};
         }},
        {'\0', "render", "FILE",
         "render the tune to FILE and exit (with the emulated chip):\n"
         ".wav (16-bit mono), .flac, .ogg (Vorbis), .opus or .mp3,\n"
         "by its extension; FLAC, Ogg and Opus carry ReplayGain",
         [](const std::string& value, ParseState& s) {
             if (value.empty()) return std::string("--render needs a file name");
             s.parsed.options.render = value;
             return std::string{};
         }},
        {'\0', "format", "NAME",
         "the --render file's format whatever its name (a pipe or\n"
         "a device): " +
             sound::renderFormatsBuiltIn("or"),
         [](const std::string& value, ParseState& s) {
             s.format_given = sound::renderFormatNamed(value);
             if (!s.format_given)
                 return "unknown format '" + value + "'; --format takes " +
                        sound::renderFormatsBuiltIn("or");
             return std::string{};
         }},
        {'\0', "rate", "HZ",
         "output sample rate, " + std::to_string(kMinRateHz) + " to " + std::to_string(kMaxRateHz) +
             " (default 48000)",
         [](const std::string& value, ParseState& s) {
             const std::optional<int> rate_hz = rateFrom(value);
             if (!rate_hz)
                 return "--rate takes a whole number of hertz from " + std::to_string(kMinRateHz) +
                        " to " + std::to_string(kMaxRateHz) + ", not '" + value + "'";
             s.parsed.options.rate_hz = *rate_hz;
             return std::string{};
         }},
        {'\0', "capture", "FILE",
         "record every register write with its time to FILE,\n"
         "a .vgm (VGM 1.71), .vgz (gzip'd VGM) or .dro (DOSBox\n"
         "raw OPL 2.0) log",
         [](const std::string& value, ParseState& s) {
             if (!fm::captureFormatFor(pathFromArgument(value)))
                 return "--capture takes a .vgm, .vgz or .dro file, not '" + value + "'";
             s.parsed.options.capture = value;
             return std::string{};
         }},
        {'\0', "port-trace", "FILE", "write every port access to FILE, one per line",
         [](const std::string& value, ParseState& s) {
             if (value.empty()) return std::string("--port-trace needs a file name");
             s.parsed.options.port_trace = value;
             return std::string{};
         }},
        {'\0', "detect", nullptr,
         "probe the chip, say what answered, and exit\n"
         "(status 0 when a chip was found, 1 when none was)",
         [](const std::string&, ParseState& s) {
             s.parsed.options.detect = true;
             return std::string{};
         }},
        {'h', "help", nullptr, "show this help and exit",
         [](const std::string&, ParseState& s) {
             s.parsed.action = ParsedCommandLine::Action::Help;
             return std::string{};
         }},
        {'V', "version", nullptr, "show the version, licence and libraries, and exit",
         [](const std::string&, ParseState& s) {
             s.parsed.action = ParsedCommandLine::Action::Version;
             return std::string{};
         }},
    };
    return table;
}

// The option a long name picks: the one of that name, or the one it is the unique start of
// (GNU's abbreviations, "--emu" for "--emulator"). nullptr with the usage error if none.
const OptionEntry* longOption(std::string_view name, std::string& error) {
    std::vector<const OptionEntry*> starting;
    for (const OptionEntry& option : optionTable()) {
        if (option.long_name == name) return &option;
        if (!name.empty() && option.long_name.starts_with(name)) starting.push_back(&option);
    }
    if (starting.size() == 1) return starting.front();
    if (starting.empty()) {
        error = "unknown option '--" + std::string(name) + "'";
    } else {
        error = "option '--" + std::string(name) + "' is ambiguous:";
        for (const OptionEntry* option : starting) error += " --" + std::string(option->long_name);
    }
    return nullptr;
}

}  // namespace

std::optional<Chip> chipNamed(std::string_view name) { return common::valueNamed(kChips, name); }

const char* chipName(Chip chip) { return common::nameOf(kChips, chip); }

std::filesystem::path pathFromArgument(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string usageText() {
    std::string text =
        "Usage: vesk [OPTION]...\n"
        "Plays a two-voice tune on a YM3812 (OPL2) FM chip through ports 0x388/0x389.\n"
        "\n";
    // "  -h, --help" and "      --text" line up, as in GNU tools; the help text starts two
    // columns after the longest name.
    auto names = [](const OptionEntry& option) {
        std::string n =
            option.short_name != '\0' ? std::string("-") + option.short_name + ", " : "    ";
        n += "--" + std::string(option.long_name);
        if (option.value_name != nullptr) n += std::string(" ") + option.value_name;
        return n;
    };
    std::size_t width = 0;
    for (const OptionEntry& option : optionTable()) width = std::max(width, names(option).size());
    const std::string indent(2 + width + 2, ' ');
    for (const OptionEntry& option : optionTable()) {
        const std::string n = names(option);
        text += "  " + n + std::string(width + 2 - n.size(), ' ');
        for (char c : option.help) text += c == '\n' ? "\n" + indent : std::string(1, c);
        text += '\n';
    }
#ifndef _WIN32
    text += "\nWithout a display, the text front end starts instead of the window.\n";
#endif
    return text;
}

std::string versionText() {
    return std::string("vesk ") + VESK_VERSION +
           "\n"
           "License GPLv2+: GNU GPL version 2 or later <https://gnu.org/licenses/gpl.html>.\n"
           "This is free software: you are free to change and redistribute it.\n"
           "There is NO WARRANTY, to the extent permitted by law.\n"
           "\n"
           "Uses " +
           sound::loadedLibraryVersions() + ".\n";
}

ParsedCommandLine parseCommandLine(int argc, const char* const* argv) {
    ParseState state;
    std::vector<const OptionEntry*> given;
    auto fail = [&state](std::string message) {
        state.parsed.action = ParsedCommandLine::Action::UsageError;
        state.parsed.error = std::move(message);
        return state.parsed;
    };
    // Runs one option with its value, if it takes one: from "=VALUE" (or the rest of a short
    // option's word) when `attached` holds it, else from the next argument.
    int i = 1;
    auto take = [&](const OptionEntry& option, std::optional<std::string> attached) -> std::string {
        const std::string name = "--" + std::string(option.long_name);
        if (option.value_name == nullptr && attached) return name + " takes no value";
        if (std::find(given.begin(), given.end(), &option) != given.end())
            return name + " given twice";
        given.push_back(&option);
        std::string value;
        if (option.value_name != nullptr) {
            if (attached)
                value = *attached;
            else if (i + 1 < argc)
                value = argv[++i];
            else
                return name + " needs a value";
        }
        return option.apply(value, state);
    };
    for (; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string error;
        if (arg == "--") {
            // Whatever follows is not an option, and vesk takes nothing else.
            if (i + 1 < argc) return fail("unexpected argument '" + std::string(argv[i + 1]) + "'");
            break;
        } else if (arg.starts_with("--")) {
            const std::string_view body = arg.substr(2);
            const auto eq = body.find('=');
            const OptionEntry* option = longOption(body.substr(0, eq), error);
            if (option != nullptr)
                error = take(*option, eq == std::string_view::npos
                                          ? std::nullopt
                                          : std::optional<std::string>(body.substr(eq + 1)));
        } else if (arg.size() > 1 && arg.front() == '-') {
            // Short options, which may share one word: "-hV".
            for (std::size_t k = 1; k < arg.size() && error.empty(); ++k) {
                const auto option =
                    std::find_if(optionTable().begin(), optionTable().end(),
                                 [c = arg[k]](const OptionEntry& s) { return s.short_name == c; });
                if (option == optionTable().end()) {
                    error = "unknown option '-" + std::string(1, arg[k]) + "'";
                } else if (option->value_name != nullptr && k + 1 < arg.size()) {
                    error = take(*option, std::string(arg.substr(k + 1)));
                    break;
                } else {
                    error = take(*option, std::nullopt);
                }
                if (state.parsed.action != ParsedCommandLine::Action::Run) break;
            }
        } else {
            return fail("unexpected argument '" + std::string(arg) + "'");
        }
        if (!error.empty()) return fail(error);
        // --help and --version answer at once, whatever follows.
        if (state.parsed.action != ParsedCommandLine::Action::Run) return state.parsed;
    }
    // Only the emulated chip renders, so asking for a render asks for it, whatever the default.
    Options& o = state.parsed.options;
    if (!o.render.empty() && !state.chip_given) o.chip = Chip::Emulated;
    if (!o.render.empty() && o.chip != Chip::Emulated)
        return fail("--render needs the emulated chip");
    if (!o.render.empty() && o.text) return fail("--render and --text cannot go together");
    if (std::string error = renderFormatOf(o, state.format_given); !error.empty())
        return fail(error);
    if (state.baud_given && o.chip != Chip::Serial) return fail("--baud needs --chip serial");
    if (o.detect && !o.render.empty()) return fail("--detect and --render cannot go together");
    if (o.detect && !o.capture.empty()) return fail("--detect and --capture cannot go together");
    // Two outputs in one file: one of them would be lost.
    const struct {
        const char* name;
        const std::string& file;
    } outputs[] = {
        {"--render", o.render}, {"--capture", o.capture}, {"--port-trace", o.port_trace}};
    for (std::size_t a = 0; a < std::size(outputs); ++a)
        for (std::size_t b = a + 1; b < std::size(outputs); ++b)
            if (!outputs[a].file.empty() && !outputs[b].file.empty() &&
                sameFile(outputs[a].file, outputs[b].file))
                return fail(std::string(outputs[a].name) + " and " + outputs[b].name +
                            " name the same file '" + outputs[b].file + "'");
    return state.parsed;
}

}  // namespace app

// Command-line parsing: long options, each value either "--opt VALUE" or "--opt=VALUE".
#include "app/options.h"

#include <array>
#include <string_view>

namespace app {

namespace {

constexpr std::array kChips = {std::string_view("none")};

bool oneOf(std::string_view value, const auto& allowed) {
    for (std::string_view a : allowed)
        if (value == a) return true;
    return false;
}

}  // namespace

std::string usageText() {
    return "Usage: vesk [OPTION]...\n"
           "Plays a two-voice tune on a YM3812 (OPL2) FM chip through ports 0x388/0x389.\n"
           "\n"
           "  --text              use the text front end instead of the window:\n"
           "                      type \"start\" to play, \"sluta\" to quit\n"
           "  --chip NAME         where register writes go: none (default; status reads\n"
           "                      answer as an idle OPL2)\n"
           "  --port-trace FILE   write every port access to FILE, one per line\n"
           "  --help              show this help and exit\n"
           "  --version           show the version and exit\n"
           "\n"
           "Without a display, the text front end starts instead of the window.\n";
}

std::string versionText() { return std::string("vesk ") + VESK_VERSION + "\n"; }

ParsedCommandLine parseCommandLine(int argc, const char* const* argv) {
    ParsedCommandLine parsed;
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
        const bool takes_value = name == "--chip" || name == "--port-trace";
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
        } else if (name == "--chip") {
            if (!oneOf(value, kChips)) return fail("unknown chip '" + value + "'");
            parsed.options.chip = value;
        } else if (name == "--port-trace") {
            if (value.empty()) return fail("--port-trace needs a file name");
            parsed.options.port_trace = value;
        } else {
            return fail("unknown option '" + std::string(arg) + "'");
        }
    }
    return parsed;
}

}  // namespace app

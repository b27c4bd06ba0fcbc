// The command line: our own addition; without options the program behaves as the bare window does.
#pragma once

#include <string>
#include <variant>

namespace app {

struct Options {
    bool text = false;          // the text front end in place of the window
    std::string chip = "none";  // where register writes go
    std::string port_trace;     // record every port access here
};

// What the command line asks for: run, print something and stop, or a usage error.
struct ParsedCommandLine {
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::Run;
    Options options;
    std::string error;  // with UsageError: what was wrong
};

ParsedCommandLine parseCommandLine(int argc, const char* const* argv);
std::string usageText();
std::string versionText();

}  // namespace app

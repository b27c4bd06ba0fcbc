// The command line: our own addition; without options the program behaves as the bare window does.
#pragma once

#include <string>
#include <variant>

namespace app {

struct Options {
    bool text = false;              // the text front end in place of the window
#ifdef _WIN32
    std::string chip = "inpout32";  // a real card through the port library
#else
    std::string chip = "emulated";  // where register writes go
#endif
    std::string emulator = "nuked"; // which emulator core plays an emulated chip
    int rate_hz = 48000;            // output sample rate, live and rendered
    std::string render;             // render the tune to this WAV file instead of playing it
    std::string capture;            // record register writes to this .vgm or .dro file
    std::string port_trace;         // record every port access here
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

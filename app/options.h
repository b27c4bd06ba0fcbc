// The command line: our own addition; without options the program behaves as the bare window does.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "fm/ports/serial_protocol.h"
#include "sound/opl_core.h"
#include "sound/render_format.h"

namespace app {

// Where register writes go.
enum class Chip {
    Emulated,  // an emulated OPL2, heard through the sound card or rendered
    None,      // nowhere; status reads answer as an idle OPL2
    Inpout32,  // a real card through inpout32.dll (Windows)
    Serial,    // a serial OPL board: --chip serial:DEVICE[:PROTOCOL]
    Ports,     // a real card through the x86 port instructions (Linux)
    Alsa,      // a sound card's OPL through the kernel's OPL device: --chip alsa[:DEVICE] (Linux)
    Lpt,       // an OPL2LPT/OPL3LPT on a parallel port: --chip lpt[:DEVICE]
};

#ifdef _WIN32
inline constexpr Chip kDefaultChip = Chip::Inpout32;  // the original target: a real card
#else
inline constexpr Chip kDefaultChip = Chip::Emulated;
#endif

std::optional<Chip> chipNamed(std::string_view name);
const char* chipName(Chip chip);

struct Options {
    bool text = false;  // the text front end in place of the window
    Chip chip = kDefaultChip;
    sound::Emulator emulator = sound::Emulator::Nuked;  // which core plays an emulated chip
    int rate_hz = 48000;                                // output sample rate, live and rendered
    std::string render;  // render the tune to this file instead of playing it
    sound::RenderFormat render_format = sound::RenderFormat::Wav;  // by extension or --format
    std::string capture;        // record register writes to this .vgm, .vgz or .dro file
    std::string port_trace;     // record every port access here
    std::string serial_device;  // with Chip::Serial: /dev/ttyUSB0, COM3, ...; empty: found
    std::string chip_device;    // with Chip::Alsa (hw:0,0) and Chip::Lpt (/dev/parport0, 0x378)
    fm::SerialProtocol serial_protocol = fm::kDefaultSerialProtocol;
    int baud = fm::kDefaultSerialBaud;  // with Chip::Serial
    bool detect = false;  // probe the chip, say what answered, and exit: 0 found, 1 not
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
// A file name from the command line, which is UTF-8 everywhere (on Windows main makes it so), as
// a path. On Windows a path made from a std::string reads it in the ANSI code page instead.
std::filesystem::path pathFromArgument(const std::string& utf8);
std::string versionText();

}  // namespace app

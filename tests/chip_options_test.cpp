// The command line's real-chip options: --chip serial[:DEVICE[:PROTOCOL]], --baud, --chip ports,
// alsa[:DEVICE], lpt[:DEVICE], and --detect.
#include <gtest/gtest.h>

#include <vector>

#include "app/options.h"

namespace {

using Action = app::ParsedCommandLine::Action;

app::ParsedCommandLine parse(std::vector<const char*> args) {
    args.insert(args.begin(), "vesk");
    return app::parseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(ChipOptions, SerialChipNamesADeviceAndMaybeAProtocol) {
    // Stable device names hold colons of their own: only a last field that is a word is taken
    // as the protocol.
    const char* by_path = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0";
    const struct {
        std::string chip;
        const char* device;  // nullptr: a usage error
        fm::SerialProtocol protocol;
    } cases[] = {
        {"serial:/dev/ttyUSB0", "/dev/ttyUSB0", fm::SerialProtocol::Arduino},
        {"serial:COM3:retrowave", "COM3", fm::SerialProtocol::RetroWave},
        {std::string("serial:") + by_path, by_path, fm::SerialProtocol::Arduino},
        {std::string("serial:") + by_path + ":nuke", by_path, fm::SerialProtocol::Nuke},
        {"serial:/dev/ttyUSB0:opl3duo", nullptr, {}},
        {"serial", "", fm::SerialProtocol::Arduino},  // found by its USB ID
        {"serial:", nullptr, {}},
        {"serial::nuke", nullptr, {}},
    };
    for (const auto& c : cases) {
        const auto parsed = parse({"--chip", c.chip.c_str()});
        if (c.device == nullptr) {
            EXPECT_EQ(parsed.action, Action::UsageError) << c.chip;
            continue;
        }
        ASSERT_EQ(parsed.action, Action::Run) << c.chip << ": " << parsed.error;
        EXPECT_EQ(parsed.options.chip, app::Chip::Serial);
        EXPECT_EQ(parsed.options.serial_device, c.device);
        EXPECT_EQ(parsed.options.serial_protocol, c.protocol) << c.chip;
    }
}

TEST(ChipOptions, BaudIsAWholeRateForASerialChipOnly) {
    EXPECT_EQ(parse({"--chip", "serial:/dev/ttyUSB0"}).options.baud, 115200);
    EXPECT_EQ(parse({"--baud=57600", "--chip=serial:/dev/ttyACM0"}).options.baud, 57600);
    for (const char* refused : {"0", "115k", "4000001"})
        EXPECT_EQ(parse({"--chip", "serial:/dev/ttyUSB0", "--baud", refused}).action,
                  Action::UsageError)
            << refused;
    EXPECT_EQ(parse({"--chip", "none", "--baud", "9600"}).action, Action::UsageError);
#ifdef __linux__
    EXPECT_EQ(parse({"--chip", "ports"}).options.chip, app::Chip::Ports);
#endif
}

TEST(ChipOptions, AlsaAndLptTakeAnOptionalDeviceAndDetectStandsAlone) {
    const struct {
        std::vector<const char*> args;
        app::Chip chip;
        const char* device;  // nullptr: a usage error
    } cases[] = {
        {{"--chip", "lpt"}, app::Chip::Lpt, ""},
        {{"--chip=lpt:/dev/parport1"}, app::Chip::Lpt, "/dev/parport1"},
        {{"--chip", "lpt:0x278"}, app::Chip::Lpt, "0x278"},
        {{"--chip", "lpt:"}, app::Chip::Lpt, nullptr},
#ifdef __linux__
        {{"--chip", "alsa"}, app::Chip::Alsa, ""},
        {{"--chip", "alsa:hw:1,0", "--detect"}, app::Chip::Alsa, "hw:1,0"},
#else
        {{"--chip", "alsa"}, app::Chip::Alsa, nullptr},
#endif
        {{"--chip", "lpt", "--baud", "9600"}, app::Chip::Lpt, nullptr},
        {{"--detect", "--capture", "x.vgm"}, app::Chip::Emulated, nullptr},
        {{"--detect", "--render", "x.wav"}, app::Chip::Emulated, nullptr},
    };
    for (const auto& c : cases) {
        const auto parsed = parse(c.args);
        SCOPED_TRACE(c.args.back());
        if (c.device == nullptr) {
            EXPECT_EQ(parsed.action, Action::UsageError);
            continue;
        }
        ASSERT_EQ(parsed.action, Action::Run) << parsed.error;
        EXPECT_EQ(parsed.options.chip, c.chip);
        EXPECT_EQ(parsed.options.chip_device, c.device);
    }
}

}  // namespace

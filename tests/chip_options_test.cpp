// The command line's real-chip options: --chip serial:DEVICE[:PROTOCOL], --baud, --chip ports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/options.h"

namespace {

using Action = app::ParsedCommandLine::Action;

app::ParsedCommandLine parse(std::vector<const char*> args) {
    args.insert(args.begin(), "vesk");
    return app::parseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(ChipOptions, SerialChipNamesADeviceAndMaybeAProtocol) {
    const struct {
        const char* chip;
        const char* device;  // nullptr: refused
        fm::SerialProtocol protocol;
    } cases[] = {
        {"serial:/dev/ttyUSB0", "/dev/ttyUSB0", fm::SerialProtocol::Arduino},
        {"serial:/dev/ttyACM0:nuke", "/dev/ttyACM0", fm::SerialProtocol::Nuke},
        {"serial:COM3:retrowave", "COM3", fm::SerialProtocol::RetroWave},
        {"serial:/dev/ttyUSB0:arduino", "/dev/ttyUSB0", fm::SerialProtocol::Arduino},
        // Stable device names hold colons of their own; a last field that is no word is
        // part of the name.
        {"serial:/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0",
         "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0", fm::SerialProtocol::Arduino},
        {"serial:/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0:nuke",
         "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0", fm::SerialProtocol::Nuke},
        {"serial:/dev/ttyUSB0:opl3duo", nullptr, {}},
        {"serial:/dev/ttyUSB0:Nuke", nullptr, {}},
        {"serial", nullptr, {}},
        {"serial:", nullptr, {}},
        {"serial::nuke", nullptr, {}},
    };
    for (const auto& c : cases) {
        const auto parsed = parse({"--chip", c.chip});
        if (c.device == nullptr) {
            EXPECT_EQ(parsed.action, Action::UsageError) << c.chip;
            continue;
        }
        ASSERT_EQ(parsed.action, Action::Run) << c.chip << ": " << parsed.error;
        EXPECT_EQ(parsed.options.chip, app::Chip::Serial) << c.chip;
        EXPECT_EQ(parsed.options.serial_device, c.device) << c.chip;
        EXPECT_EQ(parsed.options.serial_protocol, c.protocol) << c.chip;
        EXPECT_EQ(parsed.options.baud, 115200) << c.chip;
    }
    EXPECT_EQ(parse({"--chip=serial:/dev/ttyUSB0:opl3duo"}).error,
              "unknown serial protocol 'opl3duo' (arduino, nuke or retrowave)");
}

TEST(ChipOptions, BaudIsAWholePositiveRateForASerialChipOnly) {
    EXPECT_EQ(parse({"--chip", "serial:/dev/ttyUSB0", "--baud", "57600"}).options.baud, 57600);
    EXPECT_EQ(parse({"--baud=2000000", "--chip=serial:/dev/ttyACM0"}).options.baud, 2000000);
    for (const char* refused : {"0", "-9600", "115k", "", "4000001", "99999999999"}) {
        EXPECT_EQ(parse({"--chip", "serial:/dev/ttyUSB0", "--baud", refused}).action,
                  Action::UsageError)
            << refused;
    }
    const auto parsed = parse({"--chip", "none", "--baud", "9600"});
    EXPECT_EQ(parsed.action, Action::UsageError);
    EXPECT_EQ(parsed.error, "--baud needs --chip serial:DEVICE");
}

#ifdef __linux__
TEST(ChipOptions, PortsIsARealCardThroughTheMachinesPorts) {
    EXPECT_EQ(parse({"--chip", "ports"}).options.chip, app::Chip::Ports);
    EXPECT_EQ(parse({"--chip", "ports", "--render", "a.wav"}).action, Action::UsageError);
}
#endif

}  // namespace

// --chip serial without a device: the board found by its USB ID, in a sysfs tree laid out in a
// scratch folder the way the kernel lays out /sys.
#include "app/platform/serial_boards.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "capture_readers.h"

namespace {

namespace fs = std::filesystem;

// A USB device with one serial interface: /sys/devices/.../usb1/1-N holds the IDs, its
// interface 1-N:1.0 the tty. `converter`: a USB serial converter (FTDI, CH340), whose tty sits
// one level further down, below a port device of its own.
struct FakeSys {
    explicit FakeSys(const fs::path& root) : root_(root) {
        fs::create_directories(root_ / "class" / "tty");
        // A virtual terminal, with no device, and a port on the mainboard, with no USB IDs.
        fs::create_directories(root_ / "class" / "tty" / "tty0");
        fs::create_directories(root_ / "devices" / "platform" / "serial8250");
        tty("ttyS0", root_ / "devices" / "platform" / "serial8250");
    }
    void usb(const std::string& tty_name, const std::string& vendor, const std::string& product,
             const std::string& name, bool converter) {
        const fs::path device = root_ / "devices" / "pci0000:00" / "usb1" / ("1-" + tty_name);
        fs::create_directories(device);
        std::ofstream(device / "idVendor") << vendor << "\n";
        std::ofstream(device / "idProduct") << product << "\n";
        if (!name.empty()) std::ofstream(device / "product") << name << "\n";
        fs::path interface = device / (device.filename().string() + ":1.0");
        if (converter) interface /= tty_name;
        fs::create_directories(interface);
        tty(tty_name, interface);
    }
    void tty(const std::string& name, const fs::path& device) {
        fs::create_directories(root_ / "class" / "tty" / name);
        fs::create_directory_symlink(device, root_ / "class" / "tty" / name / "device");
    }
    fs::path root_;
};

TEST(SerialBoards, TheBoardIsFoundByItsUsbIdOrAsTheOneAdapterPresent) {
    struct Usb {
        std::string tty, vendor, product, name;
        bool converter;
    };
    const Usb retrowave{"ttyACM0", "04d8", "e683", "Retrowave_USB_Adapter", false};
    const Usb uno{"ttyACM1", "2341", "0043", "Arduino Uno", false};
    const Usb ch340{"ttyUSB0", "1a86", "7523", "USB Serial", true};
    const Usb ftdi{"ttyUSB1", "0403", "6001", "FT232R USB UART", true};
    const Usb modem{"ttyUSB2", "12d1", "1506", "HUAWEI Mobile", true};
    const struct {
        std::vector<Usb> present;
        std::string device;  // the one chosen, or "" for none
        bool retrowave_protocol;
        std::string problem;
    } cases[] = {
        // The RetroWave by its own ID, whatever else is plugged in; it speaks its own protocol.
        {{uno, retrowave, ftdi}, "/dev/ttyACM0", true, ""},
        // Otherwise the single adapter a board is built on, behind a converter or not.
        {{ch340}, "/dev/ttyUSB0", false, ""},
        {{uno, modem}, "/dev/ttyACM1", false, ""},
        // Several, or none: one line naming what was found, asking for the device.
        {{uno, ftdi},
         "",
         false,
         "--chip serial: found several boards: /dev/ttyACM1 (2341:0043 Arduino Uno), "
         "/dev/ttyUSB1 (0403:6001 FT232R USB UART); name the one to play on: "
         "--chip serial:DEVICE"},
        {{modem},
         "",
         false,
         "--chip serial: found no USB serial board (only /dev/ttyUSB2 (12d1:1506 HUAWEI "
         "Mobile)); is it plugged in? Name its device: --chip serial:DEVICE"},
        {{},
         "",
         false,
         "--chip serial: found no USB serial board; is it plugged in? Name its device: "
         "--chip serial:DEVICE"},
    };
    for (const auto& c : cases) {
        readers::ScratchDir dir;
        FakeSys sys(dir.path());
        for (const Usb& u : c.present) sys.usb(u.tty, u.vendor, u.product, u.name, u.converter);
        const app::SerialBoardChoice choice =
            app::chooseSerialBoard(app::usbSerialDevices(dir.path()));
        SCOPED_TRACE(c.device + c.problem);
        EXPECT_EQ(choice.device ? choice.device->device : "", c.device);
        EXPECT_EQ(choice.protocol == fm::SerialProtocol::RetroWave, c.retrowave_protocol);
        EXPECT_EQ(choice.problem, c.problem);
    }
}

}  // namespace

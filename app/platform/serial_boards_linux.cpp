// USB serial devices from sysfs: /sys/class/tty/NAME/device leads to the USB interface (or to a
// USB serial converter's port below it); the IDs sit in the USB device's folder above.
#include <algorithm>
#include <fstream>
#include <system_error>

#include "app/platform/serial_boards.h"

namespace app {

namespace {

namespace fs = std::filesystem;

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// A USB device's folder is the first one above the tty's device that holds idVendor; an
// interface sits one level below it, a converter's port two.
constexpr int kLevelsToUsbDevice = 4;

}  // namespace

std::vector<UsbSerialDevice> usbSerialDevices(const fs::path& sysfs_root) {
    std::vector<UsbSerialDevice> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(sysfs_root / "class" / "tty", error)) {
        std::error_code no_device;
        fs::path place = fs::canonical(entry.path() / "device", no_device);
        if (no_device) continue;  // a virtual terminal: no device behind it
        for (int level = 0; level < kLevelsToUsbDevice && !place.empty(); ++level) {
            if (fs::exists(place / "idVendor")) {
                found.push_back({"/dev/" + entry.path().filename().string(),
                                 firstLine(place / "idVendor"), firstLine(place / "idProduct"),
                                 firstLine(place / "product")});
                break;
            }
            place = place.parent_path();
        }
    }
    std::sort(found.begin(), found.end(), [](const UsbSerialDevice& a, const UsbSerialDevice& b) {
        return a.device < b.device;
    });
    return found;
}

}  // namespace app

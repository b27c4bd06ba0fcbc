// Serial OPL boards found by their USB IDs, so `--chip serial` needs no device name.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fm/ports/serial_protocol.h"

namespace app {

// A serial device on USB, as the system lists it.
struct UsbSerialDevice {
    std::string device;      // /dev/ttyACM0, COM3
    std::string vendor_id;   // four lower-case hex digits: "04d8"
    std::string product_id;  // "e683"
    std::string product;     // the device's own name for itself, where it gives one
};

// Every serial device on USB, in the order of their device names. Linux reads
// `sysfs_root`/class/tty/*/device, which leads to the USB interface; the IDs sit in a folder
// above it. Windows asks SetupAPI for the present COM ports and ignores `sysfs_root`.
std::vector<UsbSerialDevice> usbSerialDevices(const std::filesystem::path& sysfs_root = "/sys");

struct SerialBoardChoice {
    std::optional<UsbSerialDevice> device;  // the board's, or nullopt with `problem` saying why
    std::optional<fm::SerialProtocol> protocol;  // where the board's kind fixes it
    std::string board;    // what it is taken for: "RetroWave OPL3", "an Arduino"
    std::string problem;  // one line listing what was found and asking for the device
};

// A RetroWave OPL3 by its own ID; otherwise the one USB serial adapter of a kind boards are
// built on (Arduino, CH340, FTDI, CP210x, ...), if exactly one is present.
SerialBoardChoice chooseSerialBoard(const std::vector<UsbSerialDevice>& devices);

}  // namespace app

// Which USB serial device is the board: the USB IDs they show up with.
#include "app/platform/serial_boards.h"

#include <string_view>

namespace app {

namespace {

// The RetroWave OPL3's own USB adapter: Microchip's vendor ID with a product ID of its own
// ("Retrowave_USB_Adapter").
constexpr std::string_view kRetroWaveVendor = "04d8";
constexpr std::string_view kRetroWaveProduct = "e683";

// Arduino-based boards (OPL2 Audio Board, OPL3 Duo) show up as their Arduino's serial port.
// These name the adapter, not the board, so only a single match is taken.
struct AdapterKind {
    std::string_view vendor_id;
    std::string_view product_id;  // empty: every product of the vendor
    std::string_view name;
};
constexpr AdapterKind kAdapters[] = {
    {"2341", "", "an Arduino"},           {"2a03", "", "an Arduino"},
    {"1a86", "7523", "a CH340 adapter"},  {"1a86", "5523", "a CH341 adapter"},
    {"0403", "", "an FTDI adapter"},      {"10c4", "ea60", "a CP210x adapter"},
    {"067b", "2303", "a PL2303 adapter"}, {"1b4f", "", "a SparkFun board"},
    {"239a", "", "an Adafruit board"},
};

const AdapterKind* adapterKind(const UsbSerialDevice& d) {
    for (const AdapterKind& kind : kAdapters)
        if (d.vendor_id == kind.vendor_id &&
            (kind.product_id.empty() || d.product_id == kind.product_id))
            return &kind;
    return nullptr;
}

std::string listed(const UsbSerialDevice& d) {
    std::string text = d.device + " (" + d.vendor_id + ":" + d.product_id;
    if (!d.product.empty()) text += " " + d.product;
    return text + ")";
}

}  // namespace

SerialBoardChoice chooseSerialBoard(const std::vector<UsbSerialDevice>& devices) {
    SerialBoardChoice choice;
    std::vector<const UsbSerialDevice*> retrowaves;
    std::vector<const UsbSerialDevice*> adapters;
    for (const UsbSerialDevice& d : devices) {
        if (d.vendor_id == kRetroWaveVendor && d.product_id == kRetroWaveProduct)
            retrowaves.push_back(&d);
        else if (adapterKind(d) != nullptr)
            adapters.push_back(&d);
    }
    if (retrowaves.size() == 1) {
        choice.device = *retrowaves.front();
        choice.protocol = fm::SerialProtocol::RetroWave;
        choice.board = "RetroWave OPL3";
        return choice;
    }
    if (retrowaves.empty() && adapters.size() == 1) {
        choice.device = *adapters.front();
        choice.board = adapterKind(*adapters.front())->name;
        return choice;
    }
    const auto& candidates = retrowaves.empty() ? adapters : retrowaves;
    if (candidates.empty()) {
        choice.problem = "--chip serial: found no USB serial board";
        if (!devices.empty()) {
            choice.problem += " (only";
            for (const UsbSerialDevice& d : devices) choice.problem += " " + listed(d);
            choice.problem += ")";
        }
        choice.problem += "; is it plugged in? Name its device: --chip serial:DEVICE";
        return choice;
    }
    choice.problem = "--chip serial: found several boards:";
    for (std::size_t i = 0; i < candidates.size(); ++i)
        choice.problem += (i == 0 ? " " : ", ") + listed(*candidates[i]);
    choice.problem += "; name the one to play on: --chip serial:DEVICE";
    return choice;
}

}  // namespace app

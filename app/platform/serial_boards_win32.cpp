// USB serial devices from SetupAPI: the present COM ports, each with its hardware ID
// (USB\VID_04D8&PID_E683...) and the port name its registry key holds.
#include <windows.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>

#include "app/platform/process_win32.h"
#include "app/platform/serial_boards.h"

namespace app {

namespace {

std::string property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD which) {
    wchar_t buffer[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, which, nullptr,
                                           reinterpret_cast<BYTE*>(buffer), sizeof buffer - 2,
                                           nullptr))
        return {};
    return utf8FromWide(buffer);
}

// The four hex digits after `tag` in a hardware ID, lower-cased; empty where there are none.
std::string idAfter(const std::string& hardware_id, const std::string& tag) {
    const std::size_t at = hardware_id.find(tag);
    if (at == std::string::npos || at + tag.size() + 4 > hardware_id.size()) return {};
    std::string id = hardware_id.substr(at + tag.size(), 4);
    std::transform(id.begin(), id.end(), id.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return id;
}

std::string portName(HDEVINFO set, SP_DEVINFO_DATA& device) {
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return {};
    wchar_t name[64] = {};
    DWORD size = sizeof name - 2;
    DWORD type = 0;
    const bool ok = RegQueryValueExW(key, L"PortName", nullptr, &type,
                                     reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
                    type == REG_SZ;
    RegCloseKey(key);
    return ok ? utf8FromWide(name) : std::string{};
}

}  // namespace

std::vector<UsbSerialDevice> usbSerialDevices(const std::filesystem::path&) {
    std::vector<UsbSerialDevice> found;
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return found;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        std::string hardware_id = property(set, device, SPDRP_HARDWAREID);
        std::transform(hardware_id.begin(), hardware_id.end(), hardware_id.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        const std::string vendor = idAfter(hardware_id, "VID_");
        const std::string port = portName(set, device);
        if (vendor.empty() || port.empty()) continue;  // not on USB, or not a COM port
        found.push_back(
            {port, vendor, idAfter(hardware_id, "PID_"), property(set, device, SPDRP_DEVICEDESC)});
    }
    SetupDiDestroyDeviceInfoList(set);
    std::sort(found.begin(), found.end(), [](const UsbSerialDevice& a, const UsbSerialDevice& b) {
        return a.device < b.device;
    });
    return found;
}

}  // namespace app

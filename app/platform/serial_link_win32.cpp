// A COM port through the Win32 communications API: raw 8N1, no flow control, writes retried.
#include <windows.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "app/platform/serial_link.h"
#include "common/run_error.h"
#include "fm/ports/windows_error.h"

namespace app {

namespace {

std::string reason(DWORD error) { return fm::windowsErrorText(error); }

class Win32SerialLink final : public fm::SerialLink {
public:
    Win32SerialLink(std::string device, HANDLE handle)
        : device_(std::move(device)), handle_(handle) {}
    ~Win32SerialLink() override { CloseHandle(handle_); }
    Win32SerialLink(const Win32SerialLink&) = delete;
    Win32SerialLink& operator=(const Win32SerialLink&) = delete;

    void send(std::span<const std::uint8_t> bytes) override {
        std::size_t done = 0;
        while (done < bytes.size()) {
            DWORD wrote = 0;
            const auto left = static_cast<DWORD>(bytes.size() - done);
            if (!WriteFile(handle_, bytes.data() + done, left, &wrote, nullptr)) {
                const DWORD error = GetLastError();
                // What a USB adapter pulled out from under an open handle reports; Wine reports
                // a hung-up line (EIO) as not ready.
                const bool gone = error == ERROR_ACCESS_DENIED || error == ERROR_GEN_FAILURE ||
                                  error == ERROR_BAD_COMMAND ||
                                  error == ERROR_DEVICE_NOT_CONNECTED ||
                                  error == ERROR_OPERATION_ABORTED || error == ERROR_NOT_READY;
                serialBoardLost(device_, reason(error), gone);
            }
            // The write timeout ran out with nothing taken: the board has stopped.
            if (wrote == 0) serialBoardStalled(device_);
            done += wrote;  // a short write is only part of the way
        }
    }

private:
    std::string device_;
    HANDLE handle_;
};

}  // namespace

std::unique_ptr<fm::SerialLink> openSerialLink(const std::string& device, int baud, int settle_ms) {
    auto fail = [&device](const std::string& why) { return serialDeviceUnusable(device, why); };
    // COM10 and above are only reachable through the device namespace; it works for all.
    const std::string path = device.rfind("\\\\.\\", 0) == 0 ? device : "\\\\.\\" + device;
    // No sharing: two programs writing one board would interleave their writes.
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        std::string why = reason(error);
        if (error == ERROR_FILE_NOT_FOUND)
            why += "; is the board plugged in? (see Device Manager, Ports)";
        if (error == ERROR_ACCESS_DENIED) why += "; in use by another program?";
        throw fail(why);
    }
    struct Closer {
        HANDLE handle;
        bool keep = false;
        ~Closer() {
            if (!keep) CloseHandle(handle);
        }
    } closer{handle};

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb))
        throw fail("not a serial device (" + reason(GetLastError()) + ")");
    // Raw bytes: 8 data bits, no parity, one stop bit; no RTS/CTS, DSR/DTR or XON/XOFF flow
    // control (XON and XOFF are register values here).
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.fBinary = TRUE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.fParity = FALSE;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    // Unused, but SetCommState refuses any state whose XON and XOFF characters are equal: set
    // them rather than keep whatever the driver reported.
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(handle, &dcb)) {
        const DWORD error = GetLastError();
        throw fail(error == ERROR_INVALID_PARAMETER
                       ? "the driver does not take " + std::to_string(baud) + " baud"
                       : reason(error));
    }
    COMMTIMEOUTS timeouts{};
    timeouts.WriteTotalTimeoutConstant =
        static_cast<DWORD>(std::chrono::milliseconds(kSerialStallLimit).count());
    if (!SetCommTimeouts(handle, &timeouts)) throw fail(reason(GetLastError()));

    if (settle_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(settle_ms));
    // Whatever a restarting board printed meanwhile is not ours to read.
    PurgeComm(handle, PURGE_RXCLEAR);
    closer.keep = true;
    return std::make_unique<Win32SerialLink>(device, handle);
}

}  // namespace app

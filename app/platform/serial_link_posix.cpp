// A serial device through termios: raw 8N1, no flow control, non-blocking writes retried.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "app/platform/serial_link.h"
#include "common/run_error.h"

namespace app {

namespace {

struct Rate {
    int baud;
    speed_t speed;
};
constexpr Rate kRates[] = {
    {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},
    {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
    {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000},
    {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000},
    {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
#endif
};

std::string reason(int error) { return std::strerror(error); }

class PosixSerialLink final : public fm::SerialLink {
public:
    PosixSerialLink(std::string device, int fd) : device_(std::move(device)), fd_(fd) {}
    ~PosixSerialLink() override { close(fd_); }
    PosixSerialLink(const PosixSerialLink&) = delete;
    PosixSerialLink& operator=(const PosixSerialLink&) = delete;

    void send(std::span<const std::uint8_t> bytes) override {
        auto last_progress = std::chrono::steady_clock::now();
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t wrote = write(fd_, bytes.data() + done, bytes.size() - done);
            if (wrote > 0) {
                // A short write is only part of the way: the rest goes on the next pass.
                done += static_cast<std::size_t>(wrote);
                last_progress = std::chrono::steady_clock::now();
                continue;
            }
            if (wrote < 0 && errno == EINTR) continue;
            if (wrote < 0 && errno != EAGAIN && errno != EWOULDBLOCK) lost(errno);
            // The output buffer is full: wait for room, but not for ever.
            const auto left =
                kSerialStallLimit - (std::chrono::steady_clock::now() - last_progress);
            const auto left_ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            if (left_ms <= 0) serialBoardStalled(device_);
            pollfd ready{fd_, POLLOUT, 0};
            if (poll(&ready, 1, static_cast<int>(left_ms)) < 0 && errno != EINTR) lost(errno);
        }
    }

private:
    [[noreturn]] void lost(int error) const {
        // What an unplugged USB adapter, or a port closed under us, reports.
        const bool gone = error == EIO || error == ENXIO || error == ENODEV;
        serialBoardLost(device_, reason(error), gone);
    }

    std::string device_;
    int fd_;
};

}  // namespace

std::unique_ptr<fm::SerialLink> openSerialLink(const std::string& device, int baud, int settle_ms) {
    auto fail = [&device](const std::string& why) { return serialDeviceUnusable(device, why); };
    speed_t speed = 0;
    for (const Rate& rate : kRates)
        if (rate.baud == baud) speed = rate.speed;
    if (speed == 0) throw fail(std::to_string(baud) + " baud is not a rate this system can set");

    // Without O_NONBLOCK, open waits for carrier on a modem line; O_NOCTTY keeps the board
    // from becoming our controlling terminal.
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        std::string why = reason(error);
        if (error == EACCES)
            why +=
                "; add yourself to the dialout group (sudo usermod -aG dialout $USER) and "
                "log in again";
        if (error == ENOENT) why += "; is the board plugged in? (ls /dev/ttyUSB* /dev/ttyACM*)";
        throw fail(why);
    }
    struct Closer {
        int fd;
        bool keep = false;
        ~Closer() {
            if (!keep) close(fd);
        }
    } closer{fd};

    // Two programs writing one board would interleave their writes.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        throw fail(errno == EWOULDBLOCK ? "in use by another program" : reason(errno));

    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        throw fail(errno == ENOTTY ? "not a serial device" : reason(errno));
    // Raw bytes both ways: no echo, no line editing, no CR/LF translation, no signals from
    // control characters, no software flow control (XON/XOFF are register values here).
    cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    // 8 data bits (from cfmakeraw), no parity, one stop bit, no RTS/CTS; ignore the modem
    // lines and enable the receiver.
    tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0 ||
        tcsetattr(fd, TCSANOW, &tio) != 0)
        throw fail(reason(errno));
    // tcsetattr succeeds if any one setting took; check the rate, which a driver may refuse.
    termios set{};
    if (tcgetattr(fd, &set) != 0) throw fail(reason(errno));
    if (cfgetospeed(&set) != speed)
        throw fail("the driver does not take " + std::to_string(baud) + " baud");

    if (settle_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(settle_ms));
    // Whatever a restarting board printed meanwhile is not ours to read.
    tcflush(fd, TCIFLUSH);
    closer.keep = true;
    return std::make_unique<PosixSerialLink>(device, fd);
}

}  // namespace app

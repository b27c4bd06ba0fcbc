// A serial device through termios: raw 8N1, no flow control, non-blocking writes retried.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "app/platform/quit_signals.h"
#include "app/platform/serial_link.h"
#include "common/run_error.h"
#include "common/stop_request.h"

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
    PosixSerialLink(std::string device, int fd, const termios& found)
        : device_(std::move(device)), fd_(fd), found_(found) {}
    ~PosixSerialLink() override { close(); }
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
            // The output buffer is full: wait for room, but not for ever, and after a quit
            // signal only briefly.
            const auto waited = std::chrono::steady_clock::now() - last_progress;
            const bool stopping = common::stopRequested() != 0;
            const std::chrono::nanoseconds limit =
                stopping ? std::chrono::nanoseconds(common::kStopGrace)
                         : std::chrono::nanoseconds(kSerialStallLimit);
            const auto left_ms =
                std::chrono::ceil<std::chrono::milliseconds>(limit - waited).count();
            if (left_ms <= 0 && stopping)
                serialBoardLost(device_, "it took no data, and the program was asked to stop");
            if (left_ms <= 0) serialBoardStalled(device_);
            // The quit signals' pipe wakes the wait; once a stop is asked for, the grace's
            // timeout alone ends it (the pipe may stay readable until a front end drains it).
            pollfd ready[2] = {{fd_, POLLOUT, 0}, {quitSignalFd(), POLLIN, 0}};
            const nfds_t count = stopping || ready[1].fd < 0 ? 1 : 2;
            if (poll(ready, count, static_cast<int>(left_ms)) < 0 && errno != EINTR) lost(errno);
        }
    }

    void close() override {
        if (fd_ < 0) return;
        // What is still queued goes out with the settings it was sent under; a board that takes
        // nothing is not waited for long.
        const auto until = std::chrono::steady_clock::now() + common::kStopGrace;
        for (int queued = 0; ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0 &&
                             std::chrono::steady_clock::now() < until;)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        tcsetattr(fd_, TCSANOW, &found_);
        ::close(fd_);
        fd_ = -1;
    }

private:
    [[noreturn]] void lost(int error) const {
        // What an unplugged USB adapter, or a port closed under us, reports.
        const bool gone = error == EIO || error == ENXIO || error == ENODEV;
        serialBoardLost(device_, reason(error), gone);
    }

    std::string device_;
    int fd_;
    termios found_;  // the line's settings before we set it up
};

// Why DEVICE, open on fd, is not a board: it is the program's own terminal or one of its
// standard streams, which the register bytes would scramble. Empty if it may be one.
std::string notABoard(int fd) {
    if (isatty(fd) != 0 && tcgetsid(fd) == getsid(0)) return "it is this program's own terminal";
    struct stat device {};
    if (fstat(fd, &device) != 0 || !S_ISCHR(device.st_mode)) return {};
    constexpr const char* kStreams[] = {"standard input", "standard output", "standard error"};
    for (int stream = 0; stream <= 2; ++stream) {
        struct stat other {};
        if (fstat(stream, &other) == 0 && S_ISCHR(other.st_mode) && other.st_rdev == device.st_rdev)
            return std::string("it is this program's ") + kStreams[stream];
    }
    return {};
}

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
        bool restore = false;  // once known, the settings found are put back
        termios found{};
        ~Closer() {
            if (keep) return;
            if (restore) tcsetattr(fd, TCSANOW, &found);
            close(fd);
        }
    } closer{fd};
    if (const std::string why = notABoard(fd); !why.empty()) throw fail(why);

    // Two programs writing one board would interleave their writes.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        throw fail(errno == EWOULDBLOCK ? "in use by another program" : reason(errno));

    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        throw fail(errno == ENOTTY ? "not a serial device" : reason(errno));
    closer.found = tio;
    closer.restore = true;
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
    return std::make_unique<PosixSerialLink>(device, fd, closer.found);
}

}  // namespace app

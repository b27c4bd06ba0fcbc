// poll() on standard input and on the quit signals' self-pipe.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "app/platform/input_wait.h"
#include "app/platform/quit_signals.h"

namespace app {

void InputWait::block(double max_block_s) const {
    pollfd fds[2] = {{quitSignalFd(), POLLIN, 0}, {input_fd_, POLLIN, 0}};
    const nfds_t count = ended_ ? 1 : 2;
    const int timeout_ms =
        max_block_s < 0 ? -1 : static_cast<int>(std::ceil(std::max(0.0, max_block_s) * 1000.0));
    poll(fds, count, timeout_ms);
}

InputWait::Read InputWait::readReady(std::string& into) {
    if (ended_) return Read::Ended;
    pollfd fd{input_fd_, POLLIN, 0};
    if (poll(&fd, 1, 0) <= 0) return Read::Nothing;
    char buffer[4096];
    const ssize_t got = read(input_fd_, buffer, sizeof buffer);
    if (got > 0) {
        into.append(buffer, static_cast<std::size_t>(got));
        return Read::Data;
    }
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return Read::Nothing;
    ended_ = true;
    return Read::Ended;
}

bool InputWait::echoesTyping() const {
    termios tio{};
    return tcgetattr(input_fd_, &tio) == 0 && (tio.c_lflag & ECHO) != 0 &&
           (tio.c_lflag & ICANON) != 0;
}

bool isTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

}  // namespace app

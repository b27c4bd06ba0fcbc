// A self-pipe: the only async-signal-safe way to wake a poll() or a Qt event loop.
#include "app/platform/quit_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

namespace app {

namespace {
volatile std::sig_atomic_t g_signal = 0;
int g_pipe[2] = {-1, -1};

void onQuitSignal(int signal_number) {
    g_signal = signal_number;
    const char byte = 1;
    [[maybe_unused]] auto ignored = write(g_pipe[1], &byte, 1);
}

void openPipe() {
    if (g_pipe[0] >= 0) return;
    if (pipe(g_pipe) != 0) return;
    for (int fd : g_pipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
}
}  // namespace

void installQuitSignals() {
    openPipe();
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int pendingQuitSignal() { return g_signal; }

int quitSignalFd() {
    openPipe();
    return g_pipe[0];
}

void raiseQuitSignal(int signal_number) {
    openPipe();
    onQuitSignal(signal_number);
}

void drainQuitSignalFd() {
    char drain[64];
    while (g_pipe[0] >= 0 && read(g_pipe[0], drain, sizeof drain) > 0) {
    }
}

void clearQuitSignal() {
    g_signal = 0;
    drainQuitSignalFd();
}

}  // namespace app

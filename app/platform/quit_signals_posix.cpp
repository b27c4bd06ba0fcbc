// A self-pipe: the only async-signal-safe way to wake a poll() or a Qt event loop.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <initializer_list>

#include "app/platform/quit_signals.h"
#include "common/stop_request.h"

namespace app {

namespace {
volatile std::sig_atomic_t g_signal = 0;
int g_pipe[2] = {-1, -1};

void onQuitSignal(int signal_number) {
    g_signal = signal_number;
    // Waits on outputs that take no data give up from here on.
    common::requestStop(signal_number);
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
    // A closed terminal (HUP) is the window being closed from outside: the same as TERM.
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaction(signal_number, &action, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    sigaction(SIGXFSZ, &ignore, nullptr);
}

void endAfterSignal(int status) {
    if (status != 128 + SIGQUIT) return;
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(SIGQUIT, &fallback, nullptr);
    sigset_t quit;
    sigemptyset(&quit);
    sigaddset(&quit, SIGQUIT);
    sigprocmask(SIG_UNBLOCK, &quit, nullptr);
    raise(SIGQUIT);
}

void openStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor: this one, since those below it are open by now.
        const int null_fd = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null_fd != fd && null_fd >= 0) close(null_fd);
    }
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

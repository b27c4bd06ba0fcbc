// Console control events stand in for the signals; an event wakes whatever waits.
#include <windows.h>

#include <atomic>
#include <csignal>

#include "app/platform/quit_signals.h"
#include "common/stop_request.h"

namespace app {

namespace {
std::atomic<int> g_signal{0};

HANDLE wakeEvent() {
    // Manual reset: it stays set until the signal is cleared, so every waiter sees it.
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

// Runs on a thread of its own that Windows starts for each event.
BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            raiseQuitSignal(SIGINT);
            return TRUE;
        case CTRL_CLOSE_EVENT:
            raiseQuitSignal(SIGTERM);
            // Windows ends the process as soon as this returns, before the voices are keyed
            // off. The main thread ends it instead, on its next pass; Windows allows 5 s.
            Sleep(INFINITE);
            return TRUE;
        default:
            return FALSE;
    }
}
}  // namespace

void installQuitSignals() {
    wakeEvent();
    // A process started in a new process group has Ctrl-C turned off; turn it back on.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

int pendingQuitSignal() { return g_signal.load(); }

void* quitSignalEvent() { return wakeEvent(); }

void raiseQuitSignal(int signal_number) {
    g_signal.store(signal_number);
    common::requestStop(signal_number);
    SetEvent(wakeEvent());
}

void clearQuitSignal() {
    g_signal.store(0);
    ResetEvent(wakeEvent());
}

}  // namespace app

namespace app {

// Windows has no signal whose default action dumps core: every status simply returns.
void endAfterSignal(int) {}

// A console program always starts with its standard handles; a GUI start gives it none, and
// the C runtime then refuses writes to them rather than handing the descriptors to a file.
void openStandardStreams() {}

}  // namespace app

// Ctrl-C and SIGTERM act as "Sluta". The handler only records the signal; front ends act on it
// from their event pump, never from inside the handler. On Windows the console's Ctrl-C and
// Ctrl-Break count as SIGINT, and closing the console as SIGTERM.
#pragma once

namespace app {

// Installs the handlers for SIGINT and SIGTERM.
void installQuitSignals();
// The signal that asked to quit, or 0.
int pendingQuitSignal();
#ifdef _WIN32
// A manual-reset event (a HANDLE), set while a quit signal is pending, so a blocked front end
// wakes up.
void* quitSignalEvent();
#else
// Becomes readable when a quit signal arrives, so a blocked front end wakes up.
int quitSignalFd();
// Empties the wake-up pipe without forgetting the signal, so a notifier on it goes quiet.
void drainQuitSignalFd();
#endif
// As if the signal had arrived; a front end acts on it at its next pass.
void raiseQuitSignal(int signal_number);
void clearQuitSignal();

}  // namespace app

// Ctrl-C, SIGTERM, SIGHUP and SIGQUIT act as "Sluta". The handler only records the signal;
// front ends act on it from their event pump, never from inside the handler. On Windows the
// console's Ctrl-C and Ctrl-Break count as SIGINT, and closing the console as SIGTERM.
#pragma once

namespace app {

// Installs the handlers for SIGINT, SIGTERM, SIGHUP and SIGQUIT, and ignores SIGPIPE (a reader
// that has gone shows up as EPIPE) and SIGXFSZ (a file-size limit shows up as a write error).
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
// For the last step of the way out, once the outputs are finished: an exit status of 128 + a
// signal whose default action dumps core (SIGQUIT) ends the process by that signal, so the
// core dump is still made. Any other status returns.
void endAfterSignal(int status);

// Opens descriptors 0, 1 and 2 on the null device where they are closed, so that no file the
// program opens later takes the place of a standard stream. First thing in main().
void openStandardStreams();

}  // namespace app

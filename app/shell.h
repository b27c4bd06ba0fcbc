// What the window object needs from its toolkit: show, unload, and end the process.
#pragma once

#include <functional>

namespace app {

class Shell {
public:
    virtual ~Shell() = default;
    virtual void showWindow() = 0;
    virtual void unloadWindow() = 0;
    // Ends the program at once: nothing further runs, not even what lies below on the stack.
    [[noreturn]] virtual void endProgram() = 0;

protected:
    // A pending quit signal (Ctrl-C, SIGTERM, SIGHUP, SIGQUIT) acts as "Sluta": `sluta` clicks it
    // through the front end's own fault boundary, and the program then ends with 128 + the
    // signal's number, as a shell reports a process a signal ended. Returns whether one was
    // pending. Every front end's event pump calls this on each pass.
    bool actOnQuitSignal(const std::function<void()>& sluta);
    // What "Sluta" ends the program with: 0, or the quit signal's status.
    int exitStatus() const { return exit_status_; }

private:
    int exit_status_ = 0;
};

}  // namespace app

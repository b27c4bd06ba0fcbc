// What the window object needs from its toolkit: show, unload, and end the process.
#pragma once

namespace app {

class Shell {
public:
    virtual ~Shell() = default;
    virtual void showWindow() = 0;
    virtual void unloadWindow() = 0;
    // Ends the program at once: nothing further runs, not even what lies below on the stack.
    [[noreturn]] virtual void endProgram() = 0;
};

}  // namespace app

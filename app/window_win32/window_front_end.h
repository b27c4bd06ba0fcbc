// The native Windows window front end.
#pragma once

#include "app/program.h"

namespace app {

// Opens the window, runs start-up and the message loop. Ends through program.exit().
[[noreturn]] void runWindow(Program& program, int& argc, char** argv);

}  // namespace app

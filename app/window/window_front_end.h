// The Qt window front end.
#pragma once

#include "app/program.h"

namespace app {

// Opens the window, runs start-up and the event loop. Ends through program.exit().
[[noreturn]] void runWindow(Program& program, int& argc, char** argv);

}  // namespace app

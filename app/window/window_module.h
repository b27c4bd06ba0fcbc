// Finds and loads the window's module when a window is to open; a render never loads Qt.
#pragma once

#include <string>

#include "app/program.h"

namespace app {

// Loads the window module and runs the window (see runWindow), which ends the program. Returns
// only if the module cannot be loaded or no display can be opened, with one line saying why.
std::string openWindow(Program& program, int& argc, char** argv);

}  // namespace app

// The Qt window front end, built as a module that the program loads only to open a window.
#pragma once

#include <string>

#include "app/program.h"

namespace app {

// Opens the window, runs start-up and the event loop. Ends through program.exit(). Returns only
// when no display can be opened, with one line naming the display and why, before Qt (which
// would abort) is started and before the chip is touched.
std::string runWindow(Program& program, int& argc, char** argv);

// The module's entry point, found by this name once the module is loaded. It returns only as
// runWindow does, with the reason (valid until the next call).
inline constexpr const char* kWindowEntryName = "vesk_window_run";
using WindowEntry = const char*(Program* program, int* argc, char** argv);

}  // namespace app

// Calls runWindow. Unmangled, so that its name is the same for every compiler.
extern "C" const char* vesk_window_run(app::Program* program, int* argc, char** argv);

// The Qt window front end, built as a module that the program loads only to open a window.
#pragma once

#include "app/program.h"

namespace app {

// Opens the window, runs start-up and the event loop. Ends through program.exit().
[[noreturn]] void runWindow(Program& program, int& argc, char** argv);

// The module's entry point, found by this name once the module is loaded.
inline constexpr const char* kWindowEntryName = "vesk_window_run";
using WindowEntry = void(Program* program, int* argc, char** argv);

}  // namespace app

// Calls runWindow. Unmangled, so that its name is the same for every compiler.
extern "C" [[noreturn]] void vesk_window_run(app::Program* program, int* argc, char** argv);

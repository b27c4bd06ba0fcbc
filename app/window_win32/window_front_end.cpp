// The native window's way in and out: the console, the fault's message box, the program's end.
#include "app/window_win32/window_front_end.h"

#include <windows.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "app/platform/clock.h"
#include "app/platform/process_win32.h"
#include "app/window_win32/win32_window.h"

namespace app {

namespace {

// Set (to anything) for unattended runs, a scheduled task or a script: a fault then goes to
// standard error alone, instead of a message box that waits for someone to close it.
constexpr char kNoErrorBox[] = "VESK_NO_ERROR_BOX";

bool errorBoxWanted() {
    const char* value = std::getenv(kNoErrorBox);
    return value == nullptr || *value == '\0';
}

// A console program started from Explorer gets a console window of its own, which would stand
// empty beside the window. One shared with a command prompt stays: Ctrl-C works from it, and
// faults are printed to it too.
void letGoOfOwnConsole() {
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) == 1) FreeConsole();
}

}  // namespace

void runWindow(Program& program, int&, char**) {
    const bool error_box = errorBoxWanted();
    if (error_box) letGoOfOwnConsole();
    RealClock clock;
    WindowHooks hooks;
    hooks.end_program = [&program](int status) { program.exit(status); };
    hooks.report_fatal = [&program, error_box](const std::string& fault) {
        printError("run-time error: " + fault);
        if (error_box)
            MessageBoxW(nullptr, wideFromUtf8("Run-time error: " + fault).c_str(), L"vesk",
                        MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
        program.exit(1);
    };
    Win32Window window(program.port(), clock, std::move(hooks));
    window.load();
    program.sayWhatAnswered([error_box](const std::string& line) {
        if (error_box)
            MessageBoxW(nullptr, wideFromUtf8(line).c_str(), L"vesk",
                        MB_OK | MB_ICONWARNING | MB_TASKMODAL | MB_SETFOREGROUND);
    });
    // Started from Explorer, no one sees the line on stderr: the window says it once it is up.
    // The box runs on a thread of its own, so the window and its quit signals stay live; the
    // process's end takes it down with it.
    if (const std::string message = program.noSoundMessage(); !message.empty() && error_box)
        std::thread([text = wideFromUtf8(message)] {
            MessageBoxW(nullptr, text.c_str(), L"vesk: no sound",
                        MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
        }).detach();
    window.run();
}

}  // namespace app

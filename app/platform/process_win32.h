// What a Windows process sets up before anything else: its command line in UTF-8, a console
// that shows UTF-8 and escape sequences, and a timer fine enough for the wait.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace app {

// The command line from Windows' UTF-16 original, as UTF-8 argc/argv. The argv main receives is
// in the ANSI code page, which loses every character outside it, and with it file names.
class Utf8CommandLine {
public:
    Utf8CommandLine();
    int argc() const { return static_cast<int>(args_.size()); }
    char** argv() { return argv_.data(); }

private:
    std::vector<std::string> args_;
    std::vector<char*> argv_;
};

// UTF-8 output and escape sequences on the console, where there is one, and a 1 ms timer: with
// Windows' default 15.6 ms tick, a 5 ms block would last a whole tick, and the time of day would
// move in steps of one.
void prepareProcess();

std::wstring wideFromUtf8(std::string_view utf8);
std::string utf8FromWide(std::wstring_view wide);

}  // namespace app

// How a window leaves the program, whatever its toolkit: a handler's run-time error is reported
// and ends the program where it is caught, so it never unwinds into the toolkit's frames.
#pragma once

#include <cstdlib>
#include <exception>
#include <functional>
#include <string>
#include <utility>

namespace app {

struct WindowHooks {
    // Finishes the outputs and ends the process with this exit status. Never returns.
    std::function<void(int status)> end_program;
    // Shows a fatal run-time error naming the fault ("Overflow"); the program then ends with 1.
    std::function<void(const std::string& fault)> report_fatal;
};

class WindowEnding {
public:
    explicit WindowEnding(WindowHooks hooks) : hooks_(std::move(hooks)) {}

    template <typename Handler>
    void guarded(Handler handler) {
        try {
            handler();
        } catch (const std::exception& e) {
            fail(e.what());
        } catch (...) {
            fail("unknown fault");
        }
    }

    [[noreturn]] void fail(const std::string& fault) {
        failing_ = true;
        if (hooks_.report_fatal) hooks_.report_fatal(fault);
        end(1);
    }

    [[noreturn]] void end(int status) {
        hooks_.end_program(status);
        std::abort();  // unreachable: ending the program never returns
    }

    // A fault's message is up and its end comes next: the user's clicks wait for nothing.
    bool failing() const { return failing_; }

private:
    WindowHooks hooks_;
    bool failing_ = false;
};

}  // namespace app

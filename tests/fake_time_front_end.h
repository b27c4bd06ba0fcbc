// The text front end on a fake clock, ending by exception instead of ending the process.
#pragma once

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>

#include "app/text/text_front_end.h"
#include "chip_fakes.h"

namespace fakes {

// Thrown where the program would end, with the status it would end with.
struct Ended {
    int status;
};

// Blocking only moves the clock on. A run-time error ends with status 1 and its message.
class FakeTimeFrontEnd final : public app::TextFrontEnd {
public:
    // `on_exit` runs first on every way out, as the program's exit would.
    FakeTimeFrontEnd(fm::PortIo& port, FakeClock& clock, int input_fd, std::FILE* out,
                     std::function<void(int)> on_exit = {})
        : TextFrontEnd(
              port, clock, input_fd, out,
              [this](int status) {
                  if (on_exit_) on_exit_(status);
                  throw Ended{status};
              },
              [this](const std::string& message) {
                  fault = message;
                  if (on_exit_) on_exit_(1);
                  throw Ended{1};
              }),
          clock_(clock),
          on_exit_(std::move(on_exit)) {}

    std::function<void()> on_block;
    std::string fault;  // the run-time error's message, if one ended the run

    // Runs until the program would end and returns its exit status.
    int runToEnd() {
        try {
            run();
        } catch (const Ended& e) {
            return e.status;
        }
    }

protected:
    void block(double max_block_s) override {
        if (on_block) on_block();
        clock_.advance(max_block_s < 0 ? 1.0 : max_block_s);
    }

private:
    FakeClock& clock_;
    std::function<void(int)> on_exit_;
};

}  // namespace fakes

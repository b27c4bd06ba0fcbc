// The text stand-in for the window: "start" and "sluta" typed on standard input are the buttons.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "app/platform/input_wait.h"
#include "app/shell.h"
#include "app/vesk.h"
#include "playback/player.h"
#include "playback/timed_wait.h"

namespace app {

class TextFrontEnd : public Shell, public playback::EventPump, public playback::StepObserver {
public:
    // `end` ends the program with a status and must not return (the program's exit; tests throw).
    // `fatal` reports a run-time error and must not return either.
    TextFrontEnd(fm::PortIo& port, playback::Clock& clock, int input_fd, std::FILE* out,
                 std::function<void(int)> end, std::function<void(const std::string&)> fatal);
    ~TextFrontEnd() override;

    // Start-up, then commands until "sluta", end of input or a quit signal. Does not return.
    [[noreturn]] void run();

    // Called once start-up has reached the chip, before the first command is read.
    void setAfterLoad(std::function<void()> after_load) { after_load_ = std::move(after_load); }

    // Shell
    void showWindow() override;
    void unloadWindow() override;
    [[noreturn]] void endProgram() override;

    // EventPump: handles pending commands, then blocks until input or the slice ends.
    void processEvents(double max_block_s) override;

    // StepObserver: the progress line.
    void stepStarted(int step, int depth, const song::Song& song) override;
    void playbackEnded(int depth) override;

protected:
    // Blocks until input or a quit signal is ready, or max_block_s has passed (negative: forever).
    // Tests replace it to run on a fake clock.
    virtual void block(double max_block_s);

private:
    [[noreturn]] void end(int status);
    void readInput();
    void dispatch(const std::string& raw);
    void drawStatus(const std::string& text);
    template <typename Handler>
    void runHandler(Handler handler);

    Vesk vesk_;
    InputWait input_;
    std::FILE* out_;
    std::function<void(int)> end_;
    std::function<void(const std::string&)> fatal_;
    std::function<void()> after_load_;
    std::string pending_;
    bool skipping_line_ = false;  // within a line too long to be a command, up to its newline
    bool progress_on_tty_ = false;
    // On a terminal the playback's status line stands above the line being typed, this many
    // rows up from the cursor; 0 while there is none.
    int status_rows_up_ = 0;
    std::uint64_t messages_counted_ = 0;  // messageLinesShown() as of the last draw
};

}  // namespace app

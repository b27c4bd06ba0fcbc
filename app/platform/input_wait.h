// Waiting on standard input without spinning: the text front end's event source.
#pragma once

#include <cstdio>
#include <string>

namespace app {

// Lines typed on an input stream, and the quit signals, as one thing to wait on.
class InputWait {
public:
    explicit InputWait(int input_fd) : input_fd_(input_fd) {}

    // Blocks until input can be read, a quit signal arrives, or max_block_s has passed
    // (negative: no limit). Once the input has ended, only a signal or the time ends it.
    void block(double max_block_s) const;

    enum class Read { Nothing, Data, Ended };
    // Appends whatever input is ready to `into` without blocking.
    Read readReady(std::string& into);

    bool ended() const { return ended_; }

private:
    int input_fd_;
    bool ended_ = false;
};

// Whether the stream is a terminal, where progress may redraw a line in place.
bool isTerminal(std::FILE* stream);

}  // namespace app

// Waiting on standard input without spinning: the text front end's event source.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace app {

// Lines typed on an input stream, and the quit signals, as one thing to wait on.
class InputWait {
public:
#ifdef _WIN32
    explicit InputWait(int input_fd);
    ~InputWait();
#else
    explicit InputWait(int input_fd) : input_fd_(input_fd) {}
#endif

    // Blocks until input can be read, a quit signal arrives, or max_block_s has passed
    // (negative: no limit). Once the input has ended, only a signal or the time ends it.
    void block(double max_block_s) const;

    enum class Read { Nothing, Data, Ended };
    // Appends whatever input is ready to `into` without blocking.
    Read readReady(std::string& into);

    bool ended() const { return ended_; }
    // Stops reading before the program ends, so that no reader is in flight when the process
    // goes. True once nothing reads any more; nothing is read after it.
#ifdef _WIN32
    bool endReading();
#else
    bool endReading() { return true; }
#endif
    // Whether the input is a terminal in its line mode that shows what is typed, each line
    // entered taking a row of the screen.
    bool echoesTyping() const;

private:
    int input_fd_;
    bool ended_ = false;
#ifdef _WIN32
    // Windows cannot wait on a pipe or a console line, so a thread reads ahead and signals.
    struct Reader;
    std::shared_ptr<Reader> reader_;
    void* thread_ = nullptr;  // the reader's thread handle
#endif
};

// Whether the stream is a terminal, where progress may redraw a line in place.
bool isTerminal(std::FILE* stream);

}  // namespace app

// A reader thread on standard input and an event, waited on with the quit signals' event.
#include <windows.h>
#include <io.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <thread>

#include "app/platform/input_wait.h"
#include "app/platform/quit_signals.h"

// Windows 10's console understands escape sequences once this mode is on.
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace app {

// What the reader thread has read and not yet handed over. It outlives the InputWait if need
// be: the thread may sit in a read that nothing can interrupt until the next line.
struct InputWait::Reader {
    HANDLE input = INVALID_HANDLE_VALUE;
    // Manual reset: set while `buffered` holds something or the input has ended.
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::mutex mutex;
    std::string buffered;
    bool ended = false;

    ~Reader() { CloseHandle(ready); }

    // The thread's body: reads until the input ends.
    void readAhead() {
        DWORD mode = 0;
        const bool console = GetConsoleMode(input, &mode) != 0;
        char buffer[4096];
        for (;;) {
            DWORD got = 0;
            SetLastError(ERROR_SUCCESS);
            const BOOL ok = ReadFile(input, buffer, sizeof buffer, &got, nullptr);
            // Ctrl-C cuts a console read short with nothing read; that is not the end of input.
            if (got == 0 && console && GetLastError() == ERROR_OPERATION_ABORTED) continue;
            std::lock_guard lock(mutex);
            if (ok && got > 0)
                buffered.append(buffer, got);
            else
                ended = true;  // end of the pipe or file, or Ctrl-Z on a console line
            SetEvent(ready);
            if (ended) return;
        }
    }
};

InputWait::InputWait(int input_fd) : input_fd_(input_fd), reader_(std::make_shared<Reader>()) {
    reader_->input = reinterpret_cast<HANDLE>(_get_osfhandle(input_fd_));
    if (reader_->input == INVALID_HANDLE_VALUE || reader_->ready == nullptr) {
        reader_->ended = true;
        if (reader_->ready != nullptr) SetEvent(reader_->ready);
        return;
    }
    std::thread([reader = reader_] { reader->readAhead(); }).detach();
}

InputWait::~InputWait() = default;

void InputWait::block(double max_block_s) const {
    HANDLE handles[2] = {static_cast<HANDLE>(quitSignalEvent()), reader_->ready};
    const DWORD count = ended_ ? 1 : 2;
    const DWORD timeout_ms =
        max_block_s < 0 ? INFINITE
                        : static_cast<DWORD>(std::ceil(std::max(0.0, max_block_s) * 1000.0));
    WaitForMultipleObjects(count, handles, FALSE, timeout_ms);
}

InputWait::Read InputWait::readReady(std::string& into) {
    if (ended_) return Read::Ended;
    std::lock_guard lock(reader_->mutex);
    if (!reader_->buffered.empty()) {
        into += reader_->buffered;
        reader_->buffered.clear();
        if (!reader_->ended) ResetEvent(reader_->ready);
        return Read::Data;
    }
    if (!reader_->ended) return Read::Nothing;
    ended_ = true;
    return Read::Ended;
}

bool InputWait::echoesTyping() const {
    DWORD mode = 0;
    return GetConsoleMode(reader_->input, &mode) != 0 && (mode & ENABLE_ECHO_INPUT) != 0 &&
           (mode & ENABLE_LINE_INPUT) != 0;
}

// Only a console that takes the escape sequences the progress line redraws itself with; an
// older one gets a line per step, as a file does.
bool isTerminal(std::FILE* stream) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0 && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace app

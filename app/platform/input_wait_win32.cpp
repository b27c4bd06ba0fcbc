// A reader thread on standard input and an event, waited on with the quit signals' event.
#include <windows.h>
#include <io.h>
#include <process.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

#include "app/platform/input_wait.h"
#include "app/platform/quit_signals.h"

// Windows 10's console understands escape sequences once this mode is on.
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace app {

// What the reader thread has read and not yet handed over. It outlives the InputWait if need
// be: the thread may sit in a read that could not be cut short.
struct InputWait::Reader {
    HANDLE input = INVALID_HANDLE_VALUE;
    // Manual reset: set while `buffered` holds something or the input has ended.
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::mutex mutex;
    std::string buffered;
    bool ended = false;
    std::atomic<bool> stopping{false};

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
            if (stopping.load()) return;
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

    // The thread's entry: it holds a share of the reader of its own, handed over on the heap.
    static unsigned __stdcall run(void* share) {
        const std::unique_ptr<std::shared_ptr<Reader>> reader(
            static_cast<std::shared_ptr<Reader>*>(share));
        (*reader)->readAhead();
        return 0;
    }
};

InputWait::InputWait(int input_fd) : input_fd_(input_fd), reader_(std::make_shared<Reader>()) {
    reader_->input = reinterpret_cast<HANDLE>(_get_osfhandle(input_fd_));
    if (reader_->input != INVALID_HANDLE_VALUE && reader_->ready != nullptr) {
        auto* share = new std::shared_ptr<Reader>(reader_);
        thread_ =
            reinterpret_cast<void*>(_beginthreadex(nullptr, 0, Reader::run, share, 0, nullptr));
        if (thread_ != nullptr) return;
        delete share;
    }
    reader_->ended = true;
    if (reader_->ready != nullptr) SetEvent(reader_->ready);
}

InputWait::~InputWait() {
    if (thread_ != nullptr) CloseHandle(static_cast<HANDLE>(thread_));
}

// Under Wine, a thread still alive when the process ends is cut off by a signal wherever it
// stands, in a wait or on its own way out, and Wine's exit then may hang until the wineserver
// kills the process, or crash: either way the exit status is lost. So the reader is ended
// first, and the program waits until Windows counts it gone.
bool InputWait::endReading() {
    if (thread_ == nullptr) return true;
    const auto thread = static_cast<HANDLE>(thread_);
    reader_->stopping.store(true);
    // Looked up, not imported: Windows XP has no CancelSynchronousIo, and it cannot cut a
    // console read short before Windows 8.
    using CancelFn = BOOL(WINAPI*)(HANDLE);
    static const auto cancel = reinterpret_cast<CancelFn>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CancelSynchronousIo")));
    // A read that has not begun yet cannot be cut, so the cut is tried again; a read that
    // cannot be cut at all costs the program 0.2 s on its way out, and the reader is left.
    constexpr int kTries = 20;
    constexpr DWORD kTryMs = 10;
    constexpr DWORD kWayOutMs = 1000;
    for (int i = 0; i < kTries; ++i) {
        bool on_its_way_out = cancel != nullptr && cancel(thread);
        {
            std::lock_guard lock(reader_->mutex);
            on_its_way_out = on_its_way_out || reader_->ended;
        }
        if (on_its_way_out) return WaitForSingleObject(thread, kWayOutMs) == WAIT_OBJECT_0;
        if (WaitForSingleObject(thread, kTryMs) == WAIT_OBJECT_0) return true;
    }
    return false;
}

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

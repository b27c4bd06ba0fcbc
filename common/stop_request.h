// Whether the process has been asked to stop (Ctrl-C, SIGTERM): a wait on an output that takes no
// more data looks here, so that it never holds the program against the user.
#pragma once

#include <atomic>
#include <chrono>

namespace common {

// After a stop request, an output that has taken no data for this long is given up on: the
// program still ends within a second.
inline constexpr std::chrono::milliseconds kStopGrace{500};

inline std::atomic<int> g_stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

// Async-signal-safe: the quit signals' handler calls it.
inline void requestStop(int signal_number) noexcept {
    g_stop_signal.store(signal_number, std::memory_order_relaxed);
}
// The signal that asked the process to stop, or 0. Never cleared: once asked, the program is on
// its way out.
inline int stopRequested() noexcept { return g_stop_signal.load(std::memory_order_relaxed); }

}  // namespace common

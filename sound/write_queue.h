// Register writes on their way to the thread that renders the chip: one writer, one reader, no
// locks.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "fm/blaster.h"

namespace sound {

// One data write, stamped with the output sample at which it takes effect.
struct StampedWrite {
    std::int64_t at_frame = 0;
    std::uint8_t reg = 0;
    std::uint8_t value = 0;
};

// Single producer (the thread that plays the tune), single consumer (the thread that renders).
// Neither side ever waits: a full queue refuses the write, an empty one has nothing to give.
class WriteQueue {
public:
    // Start-up alone is fm::kStartUpWrites writes in a burst; a step adds 6. The reader drains
    // every few ms.
    static constexpr std::size_t kCapacity = 4096;
    static_assert(kCapacity > fm::kStartUpWrites);

    // Producer side. False if the queue is full; the write is not taken.
    bool push(const StampedWrite& write) {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == kCapacity) return false;
        slots_[tail % kCapacity] = write;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Consumer side: the oldest write, left in place. False if there is none.
    bool peek(StampedWrite& write) const {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) return false;
        write = slots_[head % kCapacity];
        return true;
    }
    // Consumer side: drops the write that peek() gave.
    void pop() {
        head_.store(head_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }

private:
    static_assert((kCapacity & (kCapacity - 1)) == 0, "the counters wrap cleanly at a power of 2");
    std::array<StampedWrite, kCapacity> slots_{};
    // Free-running counters; they never catch up with each other by more than kCapacity.
    alignas(64) std::atomic<std::size_t> head_{0};
    alignas(64) std::atomic<std::size_t> tail_{0};
};

}  // namespace sound

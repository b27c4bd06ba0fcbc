// The chip's samples on their way from the thread that runs it to the one that writes them.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <span>
#include <vector>

#include "sound/resampled_stream.h"

namespace app {

// One producer (the chip's thread) and one consumer (the writer's), with a few blocks of samples
// between them: the chip runs that far ahead at most, so memory stays small however long the
// song. The producer writes straight into a block; each side waits only when it must. The
// consumer, being faster, sleeps whenever it has caught up, and is woken only when a few blocks
// are ready: each wakeup costs the producer a system call.
class BlockQueue final : public sound::NativeSink {
public:
    static constexpr std::size_t kBlockSamples = 16384;  // a third of a second of the chip
    static constexpr std::size_t kBlocks = 8;
    static constexpr std::size_t kWakeAt = kBlocks / 2;

    BlockQueue();

    // Producer. room() waits while every block is full. Once the consumer has failed, room(),
    // wrote() and drain() raise its error.
    std::span<std::int16_t> room() override;
    void wrote(std::size_t n) override;
    // Hands over what has been written so far, and waits until the consumer is done with it.
    void drain();
    // Nothing more comes: the consumer's next() is empty once it has had the rest.
    void close();
    // Nothing more comes, and what is left is dropped: next() is empty from now on.
    void cancel();

    // Consumer. The oldest block handed over, waiting for one if need be; empty at the end.
    std::span<const std::int16_t> next();
    // Finished with the block next() gave: the producer may fill it again.
    void done();
    // Gives up: the producer gets `error` at its next call.
    void fail(std::exception_ptr error);

private:
    std::int16_t* block(std::size_t index) {
        return memory_.data() + (index % kBlocks) * kBlockSamples;
    }
    // Hands the block being filled to the consumer, even if part full. Under the lock.
    void publish();
    void raiseError() const;

    std::vector<std::int16_t> memory_;
    std::size_t filled_ = 0;  // samples in the block being filled; the producer's alone

    std::mutex mutex_;
    std::condition_variable consumer_wake_;
    std::condition_variable producer_wake_;
    // Free-running block counts: handed over, and finished with.
    std::size_t tail_ = 0;
    std::size_t head_ = 0;
    std::array<std::size_t, kBlocks> length_{};
    bool consumer_waiting_ = false;
    bool producer_waiting_ = false;
    bool hurry_ = false;  // the producer waits for the consumer: wake it for any block
    bool closed_ = false;
    bool cancelled_ = false;
    std::exception_ptr error_;
};

}  // namespace app

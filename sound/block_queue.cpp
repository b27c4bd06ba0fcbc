// A mutex and two condition variables; the lock is taken once per block, not per sample.
#include "sound/block_queue.h"

namespace app {

BlockQueue::BlockQueue() : memory_(kBlocks * kBlockSamples) {}

void BlockQueue::raiseError() const {
    if (error_) std::rethrow_exception(error_);
}

std::span<std::int16_t> BlockQueue::room() {
    if (filled_ == 0) {
        // A new block: it must be free of the consumer first.
        std::unique_lock lock(mutex_);
        producer_waiting_ = true;
        producer_wake_.wait(lock, [this] { return tail_ - head_ < kBlocks || error_; });
        producer_waiting_ = false;
        raiseError();
    }
    return {block(tail_) + filled_, kBlockSamples - filled_};
}

void BlockQueue::wrote(std::size_t n) {
    filled_ += n;
    if (filled_ < kBlockSamples) return;
    std::lock_guard lock(mutex_);
    raiseError();
    publish();
}

void BlockQueue::publish() {
    if (filled_ == 0) return;
    length_[tail_ % kBlocks] = filled_;
    ++tail_;
    filled_ = 0;
    if (consumer_waiting_ && (hurry_ || tail_ - head_ >= kWakeAt)) consumer_wake_.notify_one();
}

void BlockQueue::drain() {
    std::unique_lock lock(mutex_);
    raiseError();
    hurry_ = true;
    publish();
    if (consumer_waiting_) consumer_wake_.notify_one();
    producer_waiting_ = true;
    producer_wake_.wait(lock, [this] { return head_ == tail_ || error_; });
    producer_waiting_ = false;
    hurry_ = false;
    raiseError();
}

void BlockQueue::close() {
    std::lock_guard lock(mutex_);
    publish();
    closed_ = true;
    consumer_wake_.notify_one();
}

void BlockQueue::cancel() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    cancelled_ = true;
    consumer_wake_.notify_one();
}

std::span<const std::int16_t> BlockQueue::next() {
    std::unique_lock lock(mutex_);
    if (head_ == tail_) {
        // Caught up: sleep until a few blocks are ready, so the producer is not woken for each.
        consumer_waiting_ = true;
        consumer_wake_.wait(lock, [this] {
            return tail_ - head_ >= kWakeAt || (hurry_ && tail_ != head_) || closed_;
        });
        consumer_waiting_ = false;
    }
    if (cancelled_ || head_ == tail_) return {};
    return {block(head_), length_[head_ % kBlocks]};
}

void BlockQueue::done() {
    std::lock_guard lock(mutex_);
    ++head_;
    if (producer_waiting_) producer_wake_.notify_one();
}

void BlockQueue::fail(std::exception_ptr error) {
    std::lock_guard lock(mutex_);
    error_ = std::move(error);
    producer_wake_.notify_one();
}

}  // namespace app

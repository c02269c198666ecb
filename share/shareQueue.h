// The logoffs waiting to be published, bounded: an add never waits for Redis,
// and a long outage costs at most kShareQueueCapacity entries of memory.
// A logoff leaves the queue only once Redis has taken it: the publisher
// copies a batch from the front and drops it when the stream holds it, so
// whatever was not yet accepted is still here, for a retry, a last flush at
// the stop, or a snapshot.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

#include "cache/farmLogoff.h"

inline constexpr std::size_t kShareQueueCapacity = 100000;

class ShareQueue {
  public:
    explicit ShareQueue(std::size_t capacity = kShareQueueCapacity) : capacity_(capacity) {}

    // False when the queue is full and the logoff was dropped.
    bool push(const FarmLogoff& logoff);
    // Copies up to `most` logoffs from the front to the end of `out`, waiting
    // at most `wait` for the first; returns how many. They stay queued.
    std::size_t peekBatch(std::vector<FarmLogoff>& out, std::size_t most,
                          std::chrono::milliseconds wait) const;
    // Drops the first `count` logoffs (those Redis has accepted). Only the
    // one publisher peeks and drops, so the front is what it peeked.
    void dropFront(std::size_t count);
    std::size_t size() const;

    // Every logoff still queued, front first.
    std::vector<FarmLogoff> snapshot() const;
    // Queues `logoffs` behind what is queued, up to the capacity; returns how
    // many were taken.
    std::size_t restore(const std::vector<FarmLogoff>& logoffs);

  private:
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    mutable std::condition_variable ready_;
    std::deque<FarmLogoff> logoffs_;  // guarded by mutex_
};
